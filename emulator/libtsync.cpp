// libtsync.so of the emulated board: driver/tsync.h over board images.
// Every call re-opens the image (lock, load, change, atomic write); no C++
// exception leaves a C function.
#include "board.hpp"

#include <tsync.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <set>
#include <string>

struct TSYNC_BoardObj {
    std::string image;
};

namespace {

using emu::board;
using emu::op;

// Live handles: a closed (or never opened) handle is refused, not followed.
// Never destroyed: a handle that a program leaves open at exit is given back
// with the process, as the real driver does, and stays reachable until then.
std::mutex registry_mutex;
std::set<const TSYNC_BoardObj *> &registry()
{
    static auto *handles = new std::set<const TSYNC_BoardObj *>;
    return *handles;
}

bool live(const TSYNC_BoardObj *h)
{
    std::lock_guard<std::mutex> guard(registry_mutex);
    return registry().count(h) != 0;
}

std::string u(std::uint32_t v) { return std::to_string(v); }
std::string i(std::int32_t v) { return std::to_string(v); }
std::string ptr_arg(const void *p) { return p ? "" : " null"; }

// One call on the image: faults first, then the operation (body), then the
// call log. body answers an rc; a faulted call runs no body.
template <typename Body>
TSYNC_ERROR call(const std::string &image, op o, const std::string &args, Body &&body)
{
    TSYNC_ERROR rc = emu::rc_ok;
    auto status = emu::update_image(image, [&](board &b) {
        rc = emu::consume_fault(b, o);
        if (rc == emu::rc_ok)
            rc = body(b);
        emu::log_call(b, o, args, rc);
        return true;
    });
    if (status != emu::access_status::ok)
        return emu::rc_of(status);
    return rc;
}

template <typename Args, typename Body>
TSYNC_ERROR handle_call(TSYNC_BoardHandle h, op o, Args &&args, Body &&body) noexcept
{
    try {
        if (!h || !live(h))
            return emu::rc_bad_handle;
        return call(h->image, o, args(), std::forward<Body>(body));
    } catch (...) {
        return emu::rc_io;
    }
}

TSYNC_ERROR led_call(TSYNC_BoardHandle h, op o, std::int32_t led, std::int32_t value) noexcept
{
    try {
        if (!h || !live(h))
            return emu::rc_bad_handle;
        std::int64_t when = emu::realtime_now_ns();
        TSYNC_ERROR rc = emu::rc_ok;
        auto status = emu::update_image(h->image, [&](board &b) {
            rc = emu::consume_fault(b, o);
            if (rc == emu::rc_ok) {
                bool mode = o == op::EC_setMode;
                std::int32_t max = mode ? static_cast<std::int32_t>(emu::led_mode_max) : 1;
                if (led < 0 || led >= emu::led_count || value < 0 || value > max) {
                    rc = emu::rc_bad_arg;
                } else {
                    auto &l = b.leds[static_cast<std::size_t>(led)];
                    (mode ? l.mode : l.state) = static_cast<std::uint32_t>(value);
                }
            }
            emu::log_led(b, when, o, led, value, rc);
            emu::log_call(b, o, i(led) + " " + i(value), rc);
            return true;
        });
        if (status != emu::access_status::ok)
            return emu::rc_of(status);
        return rc;
    } catch (...) {
        return emu::rc_io;
    }
}

void to_board_time(const emu::stamp &s, BoardTime &t)
{
    t = BoardTime{s.year, s.doy, s.hour, s.minute, s.second, s.ns, s.sync};
}

bool valid_pin(std::int32_t pin) { return pin >= 0 && pin < emu::input_count; }

} // namespace

extern "C" {

TSYNC_ERROR TSYNC_open(TSYNC_BoardHandle *handle, const char *path)
{
    try {
        if (handle)
            *handle = nullptr;
        if (!handle || !path)
            return emu::rc_null_pointer;
        std::string image = emu::image_path_for_device(path, std::getenv("TSYNC_EMULATOR_DIR"));
        TSYNC_ERROR rc = call(image, op::open, path, [](board &b) {
            ++b.open_handles;
            return static_cast<TSYNC_ERROR>(emu::rc_ok);
        });
        if (rc != emu::rc_ok)
            return rc;
        auto *h = new (std::nothrow) TSYNC_BoardObj;
        if (!h)
            return emu::rc_io;
        h->image = std::move(image);
        {
            std::lock_guard<std::mutex> guard(registry_mutex);
            registry().insert(h);
        }
        *handle = h;
        return emu::rc_ok;
    } catch (...) {
        return emu::rc_io;
    }
}

TSYNC_ERROR TSYNC_close(TSYNC_BoardHandle handle)
{
    try {
        {
            std::lock_guard<std::mutex> guard(registry_mutex);
            if (!handle || registry().erase(handle) == 0)
                return emu::rc_bad_handle;
        }
        TSYNC_ERROR rc = emu::rc_io;
        try {
            rc = call(handle->image, op::close, "", [](board &b) {
                if (b.open_handles > 0)
                    --b.open_handles;
                return static_cast<TSYNC_ERROR>(emu::rc_ok);
            });
        } catch (...) {
        }
        delete handle; // released whatever the image said
        return rc;
    } catch (...) {
        return emu::rc_io;
    }
}

const char *tsync_strerror(TSYNC_ERROR rc) { return emu::rc_text(rc); }

TSYNC_ERROR TSYNC_HW_getTime(TSYNC_BoardHandle handle, BoardTime *time)
{
    return handle_call(handle, op::HW_getTime, [&] { return std::string(time ? "" : "null"); }, [&](board &b) -> TSYNC_ERROR {
        if (!time)
            return emu::rc_null_pointer;
        to_board_time(emu::stamp_of(b, emu::board_time_at(b, emu::realtime_now_ns())), *time);
        return emu::rc_ok;
    });
}

TSYNC_ERROR TSYNC_HW_getTsData(TSYNC_BoardHandle handle, int32_t mode, TimestampFifo *fifo)
{
    return handle_call(handle, op::HW_getTsData, [&] { return i(mode) + ptr_arg(fifo); }, [&](board &b) -> TSYNC_ERROR {
        if (!fifo)
            return emu::rc_null_pointer;
        fifo->count = 0;
        for (const auto &s : b.store) {
            if (fifo->count >= TSYNC_FIFO_ENTRIES)
                break;
            to_board_time(s, fifo->stamps[fifo->count++]);
        }
        for (std::uint32_t k = fifo->count; k < TSYNC_FIFO_ENTRIES; ++k)
            fifo->stamps[k] = BoardTime{};
        b.store.clear();
        return emu::rc_ok;
    });
}

TSYNC_ERROR TSYNC_HW_getTsSingle(TSYNC_BoardHandle handle, int32_t mode, BoardTime *stamp)
{
    return handle_call(handle, op::HW_getTsSingle, [&] { return i(mode) + ptr_arg(stamp); }, [&](board &b) -> TSYNC_ERROR {
        if (!stamp)
            return emu::rc_null_pointer;
        if (b.store.empty()) {
            *stamp = BoardTime{};
        } else {
            to_board_time(b.store.front(), *stamp);
            b.store.pop_front();
        }
        return emu::rc_ok;
    });
}

TSYNC_ERROR TSYNC_HW_setTsEnable(TSYNC_BoardHandle handle, int32_t enable)
{
    return handle_call(handle, op::HW_setTsEnable, [&] { return i(enable); }, [&](board &b) -> TSYNC_ERROR {
        if (enable != 0 && enable != 1)
            return emu::rc_bad_arg;
        b.hw_ts_enabled = enable == 1;
        return emu::rc_ok;
    });
}

TSYNC_ERROR TSYNC_GI_setEdge(TSYNC_BoardHandle handle, int32_t pin, int32_t edge)
{
    return handle_call(handle, op::GI_setEdge, [&] { return i(pin) + " " + i(edge); }, [&](board &b) -> TSYNC_ERROR {
        if (!valid_pin(pin) || (edge != emu::edge_falling && edge != emu::edge_rising))
            return emu::rc_bad_arg;
        b.inputs[static_cast<std::size_t>(pin)].edge = static_cast<std::uint32_t>(edge);
        return emu::rc_ok;
    });
}

TSYNC_ERROR TSYNC_GI_setTsEnable(TSYNC_BoardHandle handle, int32_t pin, int32_t enable)
{
    return handle_call(handle, op::GI_setTsEnable, [&] { return i(pin) + " " + i(enable); }, [&](board &b) -> TSYNC_ERROR {
        if (!valid_pin(pin) || (enable != 0 && enable != 1))
            return emu::rc_bad_arg;
        b.inputs[static_cast<std::size_t>(pin)].ts_enabled = enable == 1;
        return emu::rc_ok;
    });
}

TSYNC_ERROR TSYNC_CS_setYear(TSYNC_BoardHandle handle, const uint32_t *year)
{
    return handle_call(handle, op::CS_setYear, [&] { return year ? u(*year) : std::string("null"); }, [&](board &b) -> TSYNC_ERROR {
        if (!year)
            return emu::rc_null_pointer;
        if (*year < 1970 || *year > 2099)
            return emu::rc_bad_arg;
        b.year = *year;
        return emu::rc_ok;
    });
}

TSYNC_ERROR TSYNC_EC_setMode(TSYNC_BoardHandle handle, int32_t led, int32_t mode)
{
    return led_call(handle, op::EC_setMode, led, mode);
}

TSYNC_ERROR TSYNC_EC_setState(TSYNC_BoardHandle handle, int32_t led, int32_t state)
{
    return led_call(handle, op::EC_setState, led, state);
}

} // extern "C"

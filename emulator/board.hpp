// The emulated board: its state (the board image), the image's text form,
// and locked, atomic access to an image file. Shared by libtsync.so,
// tsyncemu and mbemu (static library tsyncemu_board), and by the tests.
#ifndef ORVANE_EMULATOR_BOARD_HPP
#define ORVANE_EMULATOR_BOARD_HPP

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

inline constexpr int input_count = 4;
inline constexpr int led_count = 3;
inline constexpr std::size_t store_capacity = 512;
inline constexpr std::size_t call_log_capacity = 256;
inline constexpr int image_version = 1;
inline constexpr std::size_t led_log_capacity = 4096; // newest kept
inline constexpr std::size_t fault_capacity = 256;    // rules an image may hold

// Driver return codes of the emulated board (tsync_strerror gives the texts).
enum rc : std::int32_t {
    rc_ok = 0,
    rc_no_device = 1,     // no board image at the device path
    rc_access = 2,        // image cannot be read or written
    rc_corrupt = 3,       // image does not parse
    rc_version = 4,       // image of an unknown format version
    rc_bad_handle = 5,    // null or closed handle
    rc_bad_arg = 6,       // pin, LED, edge, mode, state, enable or year out of range
    rc_null_pointer = 7,  // null out- or in-parameter
    rc_chg_pending = 8,   // text contains "RC_CHG_PENDING"
    rc_timeout = 9,
    rc_io = 10,
    rc_legacy_pending = 11, // text contains "rc_chg_pending" in lower case only
};
const char *rc_text(std::int32_t code) noexcept;

// Driver operations, named as in the driver header without "TSYNC_".
enum class op {
    open, close, HW_getTime, HW_getTsData, HW_getTsSingle, HW_setTsEnable,
    GI_setEdge, GI_setTsEnable, CS_setYear, EC_setMode, EC_setState,
};
std::string_view op_name(op o) noexcept;
std::optional<op> op_from_name(std::string_view name) noexcept;

// Edge values of TSYNC_GI_setEdge.
enum edge : std::uint32_t { edge_falling = 0, edge_rising = 1 };
// LED mode in which the LED follows TSYNC_EC_setState.
inline constexpr std::uint32_t led_mode_host = 4;
inline constexpr std::uint32_t led_mode_max = 4;

struct stamp {
    std::uint32_t year = 0, doy = 0, hour = 0, minute = 0, second = 0, ns = 0, sync = 0;
    bool operator==(const stamp &) const = default;
};

struct input_state {
    std::uint32_t edge = edge_rising;
    bool ts_enabled = false;
};

struct led_state {
    std::uint32_t mode = 0;
    std::uint32_t state = 0;
};

// One LED operation as the board saw it.
struct led_event {
    std::int64_t realtime_ns = 0; // CLOCK_REALTIME of the call
    op operation = op::EC_setMode;
    std::int32_t led = 0;
    std::int32_t value = 0;       // mode or state
    std::int32_t rc = 0;
};

// One driver call as the board saw it (the newest call_log_capacity kept).
struct call_record {
    op operation = op::open;
    std::string args; // arguments as passed, e.g. "4294967295" or "0 1"
    std::int32_t rc = 0;
};

// Make an operation answer rc: after `skip` calls that pass, for `count`
// calls (no count: always).
struct fault_rule {
    op operation = op::open;
    std::int32_t rc = rc_io;
    std::uint32_t skip = 0;
    std::optional<std::uint32_t> count;
};

struct board_clock {
    bool frozen = false;
    std::int64_t frozen_utc_ns = 0; // board time when frozen (ns since 1970, UTC)
    std::int64_t offset_ns = 0;     // board time = system realtime + offset otherwise
};

struct board {
    board_clock clock;
    std::uint32_t sync = 1;
    std::uint32_t year = 0; // as last set by TSYNC_CS_setYear; 0 = never set
    bool hw_ts_enabled = false;
    std::array<input_state, input_count> inputs{};
    std::array<led_state, led_count> leds{};
    std::vector<led_event> led_log;
    std::deque<stamp> store; // oldest first, at most store_capacity
    std::uint64_t lost = 0;  // stamps lost to a full store
    std::vector<fault_rule> faults;
    std::deque<call_record> calls;
    std::uint32_t open_handles = 0;
};

// Text form of an image; parse() never throws and rejects anything that is
// not a complete image of image_version.
std::string serialize(const board &b);
enum class parse_status { ok, corrupt, version };
parse_status parse(std::string_view text, board &out, std::string *why = nullptr);

// Board time (UTC, ns since 1970) at a given system realtime.
std::int64_t board_time_at(const board &b, std::int64_t realtime_ns) noexcept;
// UTC fields of a board time with the board's sync flag.
stamp stamp_of(const board &b, std::int64_t board_utc_ns) noexcept;

// What happened to an edge on an input.
enum class edge_outcome { taken, hw_off, input_off, wrong_edge, lost_full, bad_input };
std::string_view edge_outcome_text(edge_outcome o) noexcept;
// An edge of the given direction on input at board time board_utc_ns:
// stored when hardware and input time-stamping are on and the edge is the
// input's active edge; counted as lost when the store is full.
edge_outcome apply_edge(board &b, int input, edge direction, std::int64_t board_utc_ns);

// Consult (and count down) the fault rules for one call of o: the code to
// answer, or rc_ok to go on.
std::int32_t consume_fault(board &b, op o);

// Append to the call log (newest call_log_capacity kept) and to the LED log
// (newest led_log_capacity kept).
void log_call(board &b, op o, std::string args, std::int32_t rc);
void log_led(board &b, std::int64_t realtime_ns, op o, std::int32_t led, std::int32_t value, std::int32_t rc);

// CLOCK_REALTIME now, ns since 1970.
std::int64_t realtime_now_ns() noexcept;

// ---- image files ----------------------------------------------------------

// $TSYNC_EMULATOR_DIR/NAME for "/dev/NAME" when the variable is set (or dir
// is given); the path unchanged otherwise.
std::string image_path_for_device(std::string_view device_path, const char *dir);
std::string image_path(const std::string &dir, int index); // dir + "/tsyncpci" + index

// Result of a locked access to an image file.
enum class access_status { ok, missing, access, corrupt, version };
std::int32_t rc_of(access_status s) noexcept;

// Lock the image (flock on "<image>.lock"), load it, run fn; when fn returns
// true, write the changed image to a temporary file in the same directory,
// fsync it and rename it over the image. The lock is held throughout.
access_status update_image(const std::string &image, const std::function<bool(board &)> &fn,
                           std::string *why = nullptr);
// Load under the lock without writing.
access_status read_image(const std::string &image, board &out, std::string *why = nullptr);
// Create (or replace) an image atomically.
access_status write_new_image(const std::string &image, const board &b, std::string *why = nullptr);
// Create an image under the lock; when replace is false and an image is
// already there, leave it and set existed (status ok).
access_status create_image(const std::string &image, const board &b, bool replace, bool &existed,
                           std::string *why = nullptr);
// Remove an image and its lock file under the lock (missing when absent).
access_status remove_image(const std::string &image, std::string *why = nullptr);

} // namespace emu

#endif

// The LED test: a light walking twice over the three LEDs.
#include "brdlink.h"

#include <unistd.h>

#include "board_path.hpp"
#include "tsync.h"

namespace {

constexpr int32_t led_count = 3;
constexpr int32_t mode_host = 4; // the LED follows TSYNC_EC_setState

} // namespace

extern "C" void Led_Test(void)
{
    const auto path = brdlink::board0_path();
    TSYNC_BoardHandle handle = nullptr;
    if (TSYNC_open(&handle, path.data()) != TSYNC_SUCCESS)
        return;

    // Return codes are ignored on purpose: the sequence and its timing are
    // the same whatever the board answers.
    for (int32_t led = 0; led < led_count; ++led)
        TSYNC_EC_setMode(handle, led, mode_host);
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t led = 0; led < led_count; ++led) {
            TSYNC_EC_setState(handle, led, 1);
            sleep(1); // a pause cut short by a signal is not made up
            TSYNC_EC_setState(handle, led, 0);
        }
    }
    for (int32_t led = 0; led < led_count; ++led)
        TSYNC_EC_setMode(handle, led, led);
    TSYNC_close(handle);
}

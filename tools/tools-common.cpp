#include "tools-common.h"

#include <climits>
#include <cstdio>

namespace tools {

std::int32_t read_number(const char *text)
{
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    // Stop growing at one past INT32_MAX: enough to tell either clamp.
    const std::int64_t limit = std::int64_t{INT32_MAX} + 1;
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value < limit)
            value = value * 10 + (*p - '0');
    if (value > limit)
        value = limit;
    if (negative)
        return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(value < limit ? value : INT32_MAX);
}

std::uint32_t read_unsigned(const char *text)
{
    return static_cast<std::uint32_t>(read_number(text));
}

int usage(const char *synopsis)
{
    printf(" Usage: %s\n", synopsis);
    return 1;
}

bool open_board(board &b, const char *name, const char *index_text)
{
    b.name = name;
    snprintf(b.path, sizeof b.path, "%s%s%d", "/dev/", "tsyncpci", read_number(index_text));
    const TSYNC_ERROR rc = TSYNC_open(&b.handle, b.path);
    if (rc == TSYNC_SUCCESS)
        return true;
    printf("%s: !Could not open <%s> : rc <%d>\n", b.name, b.path, rc);
    return false;
}

const char *report(TSYNC_ERROR rc)
{
    // The driver promises a text for every code; a replacement library
    // that gives none must not crash the tool.
    const char *text = tsync_strerror(rc);
    if (text == nullptr)
        text = "";
    printf("  Error: %s.\n", text);
    return text;
}

bool close_board(board &b)
{
    const TSYNC_ERROR rc = TSYNC_close(b.handle);
    if (rc == TSYNC_SUCCESS)
        return true;
    printf("%s: error closing <%s> rc: <%d>\n", b.name, b.path, rc);
    return false;
}

int finish(int status)
{
    // Output that never arrived must not pass for success. A reader that
    // went away kills us with SIGPIPE first, like any filter; with SIGPIPE
    // ignored, the EPIPE lands here.
    bool failed = fflush(stdout) != 0 || ferror(stdout) != 0;
    if (fclose(stdout) != 0)
        failed = true;
    return failed ? 1 : status;
}

} // namespace tools

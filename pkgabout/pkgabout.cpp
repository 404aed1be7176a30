// pkgabout: print the package's identity in one of three forms.
#include <cstdio>
#include <cstring>

#include "orvane_version.h"

namespace {

// The project's own addresses, shown by the verbose form.
constexpr const char *web_address = "https://orvane-tsync.example.org";
constexpr const char *contact_address = "orvane-tsync@lists.example.org";
// Fixed texts of the verbose form.
constexpr const char *board_version = "2.5.0";
constexpr const char *board_build = "2200";

void print_usage()
{
    printf("\n");
    printf("pkgabout   -- display orvane-tsync package infos.\n");
    printf("\n");
    printf("usage :\n");
    printf("  pkgabout [option]\n");
    printf("\n");
    printf("  options : \n");
    printf("            -n  :  version number only\n");
    printf("            -v  :  verbose output\n");
    printf("            \n");
    printf("\n");
}

// Output that never arrived must not pass for success.
int finish(int status)
{
    bool failed = fflush(stdout) != 0 || ferror(stdout) != 0;
    if (fclose(stdout) != 0)
        failed = true;
    return failed ? 1 : status;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        printf("orvane-tsync %s-%s\n", ORVANE_VERSION, ORVANE_RELEASE);
        return finish(0);
    }
    // Only the first argument counts, matched whole and case-sensitively.
    if (strcmp(argv[1], "-n") == 0) {
        printf("%s", ORVANE_VERSION);
        return finish(0);
    }
    if (strcmp(argv[1], "-v") == 0) {
        printf("orvane-tsync %s-%s   [Spectracom TSync-PCI %s]   (%s)   %s   %s\n", ORVANE_VERSION,
               ORVANE_RELEASE, board_version, board_build, web_address, contact_address);
        return finish(0);
    }
    print_usage();
    return finish(1);
}

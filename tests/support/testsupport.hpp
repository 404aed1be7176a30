// Helpers for tests that run the built programs as a user would.
#ifndef ORVANE_TESTSUPPORT_HPP
#define ORVANE_TESTSUPPORT_HPP

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

struct command {
    std::string program;               // path of the executable
    std::vector<std::string> argv;     // argv[0] included, as the user types it
    std::vector<std::string> env_set;  // "NAME=value", added to (or replacing in) the environment
    std::vector<std::string> env_unset;
    std::string cwd;                   // empty: the test's own
    std::string stdout_path;           // empty: captured; else stdout goes to this file
    bool close_stdout = false;         // stdout is a pipe whose reader is gone
    std::chrono::milliseconds timeout{20000};
};

struct result {
    int status = -1;        // exit status, -1 when killed by a signal
    int signal = 0;         // terminating signal, 0 when it exited
    bool timed_out = false;
    std::string out, err;
};

result run(const command &cmd);

// Path of a built program (bin/ of the build tree).
std::string bin(const std::string &name);
// Path of the build tree's lib/.
std::string lib_dir();

// A fresh directory, removed with everything in it at the end of scope.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
bool exists(const std::string &path);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string &path);

} // namespace testsupport

#endif

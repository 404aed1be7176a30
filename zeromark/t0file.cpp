// Atomic replacement of the T0 file.
#include "t0file.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace t0file {
namespace {

// Carries the errno of the failed step up to write().
struct failure {
    int code;
};

[[noreturn]] void fail(int code = errno) { throw failure{code}; }

void write_all(int fd, std::string_view content)
{
    while (!content.empty()) {
        ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail();
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string directory_of(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Links in /proc stand for files this process has open, not for names:
// /dev/stdout is the standard output, whatever it is.
bool in_proc(const std::string &dir)
{
    char *real = ::realpath(dir.c_str(), nullptr);
    const bool yes = real && (std::strcmp(real, "/proc") == 0 || std::strncmp(real, "/proc/", 6) == 0);
    std::free(real);
    return yes;
}

struct destination {
    std::string path;
    bool open_file = false; // a link in /proc: written through, appended
};

// Follows symbolic links on the last component, so that the link stays and
// its target is replaced. The result may not exist yet (a dangling link).
destination final_target(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return {path};
            fail();
        }
        if (!S_ISLNK(st.st_mode))
            return {path};
        if (in_proc(directory_of(path)))
            return {path, true};
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            fail();
        target.resize(static_cast<std::size_t>(n));
        path = target.starts_with('/') ? target : directory_of(path) + "/" + target;
    }
    fail(ELOOP);
}

// Writes into what is there: a device, a pipe, or an open file of ours,
// after what was written to it already (mode O_APPEND) or from the start.
void write_through(const std::string &path, int mode, std::string_view content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | mode | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fail();
    try {
        write_all(fd, content);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        fail();
}

mode_t new_file_mode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void replace(const std::string &path, const struct stat *old, std::string_view content)
{
    if (old && ::access(path.c_str(), W_OK) != 0)
        fail(); // fopen would refuse a file we may not write; so do we
    const std::string dir = directory_of(path);
    const auto slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // ".<base>.XXXXXX" must stay a valid file name however long base is.
    if (base.size() > NAME_MAX - 8)
        base.resize(NAME_MAX - 8);
    std::string temp = dir + "/." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        fail();
    try {
        if (old) {
            // Keep the owner as rewriting in place would; only a privileged
            // user can give a file away, so a refusal is no error.
            [[maybe_unused]] const int kept = ::fchown(fd, old->st_uid, old->st_gid);
        }
        if (::fchmod(fd, old ? (old->st_mode & 07777) : new_file_mode()) != 0)
            fail();
        write_all(fd, content);
        if (::fsync(fd) != 0)
            fail();
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        fail(code);
    }
    // Make the rename itself durable; the new content is in place already.
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        ::fsync(dir_fd);
        ::close(dir_fd);
    }
}

void write_anonymous(std::string_view content)
{
    std::FILE *f = std::tmpfile();
    if (!f)
        fail();
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    const int code = errno;
    if (std::fclose(f) != 0 || !written)
        fail(written ? errno : code);
}

} // namespace

void write(const std::string &name, std::string_view content)
{
    try {
        if (name.empty())
            return write_anonymous(content);
        const destination dest = final_target(name);
        if (dest.open_file)
            return write_through(dest.path, O_APPEND, content);
        const std::string &path = dest.path;
        struct stat st{};
        if (::stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT)
                fail();
            return replace(path, nullptr, content);
        }
        if (S_ISREG(st.st_mode))
            return replace(path, &st, content);
        write_through(path, O_TRUNC, content);
    } catch (const failure &f) {
        throw std::runtime_error("cannot write T0 file " + name + ": " + std::strerror(f.code));
    }
}

} // namespace t0file

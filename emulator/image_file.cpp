// Image files: device-path mapping, the lock beside the image, loading, and
// atomic replacement (temporary file, fsync, rename, fsync of the directory).
#include "board.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace emu {
namespace {

constexpr off_t max_image_size = 16 * 1024 * 1024;

std::string errno_text(const std::string &what, int err) { return what + ": " + std::strerror(err); }

void set(std::string *why, std::string text)
{
    if (why)
        *why = std::move(text);
}

access_status status_of_errno(int err)
{
    return err == ENOENT || err == ENOTDIR ? access_status::missing : access_status::access;
}

class fd_guard {
public:
    explicit fd_guard(int fd = -1) : fd_(fd) {}
    ~fd_guard() { reset(); }
    fd_guard(const fd_guard &) = delete;
    fd_guard &operator=(const fd_guard &) = delete;
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Exclusive flock on "<image>.lock", held until destruction. Retries when
// the lock file was replaced or removed while waiting.
access_status lock_image(const std::string &image, fd_guard &lock, std::string *why)
{
    const std::string path = image + ".lock";
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            int err = errno;
            set(why, errno_text("cannot open lock file " + path, err));
            return status_of_errno(err);
        }
        lock.reset(fd);
        int rc;
        while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            set(why, errno_text("cannot lock " + path, errno));
            return access_status::access;
        }
        struct stat held{}, now{};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
            held.st_ino == now.st_ino)
            return access_status::ok;
        lock.reset(); // removed or replaced meanwhile: lock the current file
    }
    set(why, "lock file " + path + " keeps changing");
    return access_status::access;
}

// Check that the image is there before creating a lock file beside it.
access_status present(const std::string &image, std::string *why)
{
    struct stat st{};
    if (::stat(image.c_str(), &st) != 0) {
        int err = errno;
        set(why, errno_text("no board image " + image, err));
        return status_of_errno(err);
    }
    if (!S_ISREG(st.st_mode)) { // a directory or a device node: no lock file beside it
        set(why, "board image " + image + " is not a regular file");
        return access_status::access;
    }
    return access_status::ok;
}

access_status load(const std::string &image, bool writable, board &out, mode_t &mode, std::string *why)
{
    fd_guard fd(::open(image.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        int err = errno;
        set(why, errno_text("cannot open board image " + image, err));
        return status_of_errno(err);
    }
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        set(why, "board image " + image + " is not a regular file");
        return access_status::access;
    }
    if (st.st_size > max_image_size) {
        set(why, "board image " + image + " is too large");
        return access_status::corrupt;
    }
    mode = st.st_mode & 07777;
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            set(why, errno_text("cannot read board image " + image, errno));
            return access_status::access;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(max_image_size)) {
            set(why, "board image " + image + " is too large");
            return access_status::corrupt;
        }
    }
    std::string reason;
    switch (parse(text, out, &reason)) {
    case parse_status::ok: return access_status::ok;
    case parse_status::version: set(why, "board image " + image + ": " + reason); return access_status::version;
    case parse_status::corrupt: break;
    }
    set(why, "corrupt board image " + image + ": " + reason);
    return access_status::corrupt;
}

std::string dir_of(const std::string &path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Write the image atomically; called with the lock held.
access_status store(const std::string &image, const board &b, mode_t mode, std::string *why)
{
    static std::atomic<unsigned> counter{0};
    std::string text;
    try {
        text = serialize(b);
    } catch (...) {
        set(why, "out of memory writing " + image);
        return access_status::access;
    }
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = image + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++) + "." +
              std::to_string(static_cast<unsigned long>(realtime_now_ns() % 1000000007));
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        set(why, errno_text("cannot create a temporary file beside " + image, errno));
        return access_status::access;
    }
    auto fail = [&](const std::string &what) {
        int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        set(why, errno_text(what, err));
        return access_status::access;
    };
    (void)::fchmod(fd, mode);
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("cannot write " + tmp);
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0)
        return fail("cannot flush " + tmp);
    if (::close(fd) != 0) {
        fd = -1;
        int err = errno;
        ::unlink(tmp.c_str());
        set(why, errno_text("cannot close " + tmp, err));
        return access_status::access;
    }
    if (::rename(tmp.c_str(), image.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        set(why, errno_text("cannot rename " + tmp + " to " + image, err));
        return access_status::access;
    }
    fd_guard dir(::open(dir_of(image).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        (void)::fsync(dir.get());
    return access_status::ok;
}

} // namespace

std::string image_path_for_device(std::string_view device_path, const char *dir)
{
    constexpr std::string_view dev = "/dev/";
    if (dir && *dir && device_path.size() > dev.size() && device_path.substr(0, dev.size()) == dev)
        return std::string(dir) + "/" + std::string(device_path.substr(dev.size()));
    return std::string(device_path);
}

std::string image_path(const std::string &dir, int index) { return dir + "/tsyncpci" + std::to_string(index); }

std::int32_t rc_of(access_status s) noexcept
{
    switch (s) {
    case access_status::ok: return rc_ok;
    case access_status::missing: return rc_no_device;
    case access_status::access: return rc_access;
    case access_status::corrupt: return rc_corrupt;
    case access_status::version: return rc_version;
    }
    return rc_io;
}

access_status update_image(const std::string &image, const std::function<bool(board &)> &fn, std::string *why)
{
    if (auto s = present(image, why); s != access_status::ok)
        return s;
    fd_guard lock;
    if (auto s = lock_image(image, lock, why); s != access_status::ok)
        return s;
    board b;
    mode_t mode = 0644;
    if (auto s = load(image, true, b, mode, why); s != access_status::ok)
        return s;
    if (!fn(b))
        return access_status::ok;
    return store(image, b, mode, why);
}

access_status read_image(const std::string &image, board &out, std::string *why)
{
    if (auto s = present(image, why); s != access_status::ok)
        return s;
    fd_guard lock;
    if (auto s = lock_image(image, lock, why); s != access_status::ok)
        return s;
    mode_t mode = 0644;
    return load(image, false, out, mode, why);
}

access_status create_image(const std::string &image, const board &b, bool replace, bool &existed, std::string *why)
{
    existed = false;
    fd_guard lock;
    if (auto s = lock_image(image, lock, why); s != access_status::ok)
        return s;
    struct stat st{};
    if (::lstat(image.c_str(), &st) == 0) {
        existed = true;
        if (!replace)
            return access_status::ok;
    } else if (errno != ENOENT) {
        set(why, errno_text("cannot look at " + image, errno));
        return access_status::access;
    }
    return store(image, b, 0644, why);
}

access_status write_new_image(const std::string &image, const board &b, std::string *why)
{
    bool existed = false;
    return create_image(image, b, true, existed, why);
}

access_status remove_image(const std::string &image, std::string *why)
{
    if (auto s = present(image, why); s != access_status::ok)
        return s;
    fd_guard lock;
    if (auto s = lock_image(image, lock, why); s != access_status::ok)
        return s;
    if (::unlink(image.c_str()) != 0) {
        int err = errno;
        set(why, errno_text("cannot remove " + image, err));
        return status_of_errno(err);
    }
    ::unlink((image + ".lock").c_str());
    return access_status::ok;
}

} // namespace emu

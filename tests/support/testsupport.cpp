#include "testsupport.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace testsupport {
namespace {

std::int64_t now_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::vector<std::string> make_env(const command &cmd)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    auto drop = [&env](const std::string &name) {
        std::erase_if(env, [&](const std::string &kv) { return kv.compare(0, name.size() + 1, name + "=") == 0; });
    };
    for (const auto &name : cmd.env_unset)
        drop(name);
    for (const auto &kv : cmd.env_set) {
        drop(kv.substr(0, kv.find('=')));
        env.push_back(kv);
    }
    return env;
}

void check(int rc, const char *what)
{
    if (rc != 0)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(rc));
}

} // namespace

namespace {

// Under ORVANE_TEST_WRAPPER (scripts/vg: valgrind) our own programs run
// through the wrapper. A wrapper keeps argv[0] only as the name it resolves
// through PATH, so a typed name gets a link of that name in a scratch dir.
struct wrapped {
    command cmd;
    std::string link_dir;
    ~wrapped()
    {
        if (!link_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(link_dir, ec);
        }
    }
};

void wrap(const command &in, wrapped &w)
{
    w.cmd = in;
    const char *wrapper = std::getenv("ORVANE_TEST_WRAPPER");
    const std::string bin_dir = std::string(ORVANE_BUILD_DIR) + "/bin/";
    if (!wrapper || !*wrapper || in.program.compare(0, bin_dir.size(), bin_dir) != 0)
        return;
    std::vector<std::string> args = in.argv.empty() ? std::vector<std::string>{in.program} : in.argv;
    const std::string &typed = args[0];
    if (typed != in.program) {
        // A typed path, or a name no link can carry: run as it is, unwrapped.
        if (typed.empty() || typed.find('/') != std::string::npos || typed.size() > NAME_MAX)
            return;
        std::string dir = "/tmp/orvane-wrap-XXXXXX";
        if (!mkdtemp(dir.data()))
            return;
        w.link_dir = dir;
        std::error_code ec;
        std::filesystem::create_symlink(in.program, dir + "/" + typed, ec);
        if (ec)
            return;
        const char *path = std::getenv("PATH");
        w.cmd.env_set.push_back("PATH=" + dir + ":" + (path ? path : "/usr/bin:/bin"));
    }
    args.insert(args.begin(), wrapper);
    w.cmd.program = wrapper;
    w.cmd.argv = args;
    w.cmd.timeout = in.timeout * 10;
}

result run_direct(const command &cmd);

} // namespace

result run(const command &cmd)
{
    wrapped w;
    wrap(cmd, w);
    return run_direct(w.cmd);
}

namespace {

result run_direct(const command &cmd)
{
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC) || pipe2(in_pipe, O_CLOEXEC))
        throw std::runtime_error("pipe2 failed");

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
    if (!cmd.stdout_path.empty())
        posix_spawn_file_actions_addopen(&fa, 1, cmd.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    else
        posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
    if (!cmd.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&fa, cmd.cwd.c_str());

    if (cmd.close_stdout) {
        close(out_pipe[0]);
        out_pipe[0] = -1;
    }

    auto env = make_env(cmd);
    std::vector<char *> envp, argv;
    for (auto &kv : env)
        envp.push_back(kv.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = cmd.argv;
    if (args.empty())
        args.push_back(cmd.program);
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A closed-pipe test wants the child to meet EPIPE, not die of SIGPIPE
    // inherited as ignored or not: reset it to the default either way.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, cmd.program.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out_pipe[1]);
    close(err_pipe[1]);
    close(in_pipe[0]);
    close(in_pipe[1]);
    if (rc != 0) {
        if (out_pipe[0] >= 0)
            close(out_pipe[0]);
        close(err_pipe[0]);
        check(rc, ("posix_spawn " + cmd.program).c_str());
    }

    result res;
    const std::int64_t deadline = now_ms() + cmd.timeout.count();
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&res.out, &res.err};
    int open_fds = (out_pipe[0] >= 0 ? 1 : 0) + 1;
    while (open_fds > 0) {
        const std::int64_t left = deadline - now_ms();
        if (left <= 0) {
            res.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error("poll failed");
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[65536];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto &f : fds)
        if (f.fd >= 0)
            close(f.fd);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) {
        res.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        res.signal = WTERMSIG(wstatus);
    }
    return res;
}

} // namespace

std::string bin(const std::string &name) { return std::string(ORVANE_BUILD_DIR) + "/bin/" + name; }
std::string lib_dir() { return std::string(ORVANE_BUILD_DIR) + "/lib"; }

temp_dir::temp_dir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvane-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

temp_dir::~temp_dir()
{
    std::error_code ec;
    // Tests make directories unreadable on purpose; give them back first.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string &path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace testsupport

// Other programs run by tests (the command line program, ffmpeg, ffprobe), their output collected.
// QProcess is not used for them: Qt starts a child with a clone that shares the test's memory until
// the child's exec, and under ThreadSanitizer that leaves the starting thread's synchronisation
// unrecorded for the rest of the run, so every later hand-off from it looks like a race. A plain
// fork is followed correctly.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace qm::test {

struct ChildOptions {
    std::vector<std::pair<QString, QString>> env;  // set or replaced in the test's environment
    rlim_t fileSizeLimit = 0;  // > 0: a longer write fails as on a full disk
    int timeoutMs = 600000;    // then the child is killed and the run counts as unfinished

    ChildOptions& Env(const QString& name, const QString& value) {
        env.emplace_back(name, value);
        return *this;
    }
    ChildOptions& FileSizeLimit(rlim_t bytes) {
        fileSizeLimit = bytes;
        return *this;
    }
    ChildOptions& Timeout(int ms) {
        timeoutMs = ms;
        return *this;
    }
};

struct ChildRun {
    bool finished = false;
    int exitCode = -1;  // a child ended by a signal gives 128 + the signal
    QString out, err;
    QByteArray rawOut;  // the output as bytes, for pictures and samples
};

// A started program; its output is read as it comes, so a chatty child never blocks on a pipe.
class Child {
public:
    Child(const QString& program, const QStringList& args, const ChildOptions& options = {}) : options_(options) {
        std::vector<std::string> argStore{program.toStdString()};
        for (const QString& a : args) argStore.push_back(a.toStdString());
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& [name, value] : options.env) replaced |= entry.rfind(name.toStdString() + "=", 0) == 0;
            if (!replaced) envStore.push_back(entry);
        }
        for (const auto& [name, value] : options.env) envStore.push_back((name + "=" + value).toStdString());
        std::vector<char*> argv, envp;
        for (std::string& a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);

        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        if (pipe2(err, O_CLOEXEC) != 0) {
            close(out[0]);
            close(out[1]);
            return;
        }
        const rlim_t limit = options.fileSizeLimit;
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            dup2(out[1], 1);
            dup2(err[1], 2);
            if (limit > 0) {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit l{limit, limit};
                setrlimit(RLIMIT_FSIZE, &l);
            }
            execvpe(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        if (pid_ < 0) {
            close(out[0]);
            close(err[0]);
            return;
        }
        outFd_ = out[0];
        errFd_ = err[0];
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            Wait(60000);
        }
        CloseAll();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    void Terminate() const {
        if (pid_ > 0 && !reaped_) kill(pid_, SIGTERM);
    }

    // Reads the output until the child closes it and ends, at most `timeoutMs`; then kills it.
    ChildRun Wait(int timeoutMs = -1) {
        if (timeoutMs < 0) timeoutMs = options_.timeoutMs;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        bool killed = false;
        while (outFd_ >= 0 || errFd_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 && !killed) {
                kill(pid_, SIGKILL);
                killed = true;
            }
            pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
            poll(fds, 2, killed ? 1000 : int(std::min<int64_t>(left.count(), 1000)));
            Drain(outFd_, fds[0].revents, outBytes_);
            Drain(errFd_, fds[1].revents, errBytes_);
        }
        if (pid_ > 0 && !reaped_) {
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            reaped_ = true;
            run_.finished = !killed;
            run_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        run_.rawOut = QByteArray(outBytes_.data(), qsizetype(outBytes_.size()));
        run_.out = QString::fromUtf8(run_.rawOut);
        run_.err = QString::fromUtf8(errBytes_);
        return run_;
    }

private:
    static void Drain(int& fd, short events, std::string& into) {
        if (fd < 0 || !(events & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) return;
        char buffer[65536];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, size_t(n));
        } else if (n == 0 || errno != EINTR) {
            close(fd);
            fd = -1;
        }
    }
    void CloseAll() {
        if (outFd_ >= 0) close(outFd_);
        if (errFd_ >= 0) close(errFd_);
        outFd_ = errFd_ = -1;
    }

    ChildOptions options_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int outFd_ = -1, errFd_ = -1;
    std::string outBytes_, errBytes_;
    ChildRun run_;
};

inline ChildRun RunChild(const QString& program, const QStringList& args, const ChildOptions& options = {}) {
    Child child(program, args, options);
    return child.Started() ? child.Wait() : ChildRun{};
}

}  // namespace qm::test

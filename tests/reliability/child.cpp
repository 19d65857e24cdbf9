// SPDX-License-Identifier: MIT
#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace reliability {

Child::Child(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        execv(RELIABILITY_CHILD, argv.data());
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
}

Child::~Child() {
    if (pid_ > 0 && !exited_ && !signaled_) {
        Kill();
        Wait(std::chrono::seconds(10));
    }
    if (out_ >= 0) close(out_);
}

void Child::Drain(int timeoutMs) {
    if (out_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buf[4096];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n > 0) {
        output_.append(buf, static_cast<size_t>(n));
    } else {
        close(out_);
        out_ = -1;
    }
}

bool Child::ReadLine(std::chrono::milliseconds limit, std::string* line) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const size_t end = output_.find('\n', consumed_);
        if (end != std::string::npos) {
            *line = output_.substr(consumed_, end - consumed_);
            consumed_ = end + 1;
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (out_ < 0 || left.count() <= 0) return false;
        Drain(static_cast<int>(left.count()));
    }
}

void Child::Kill() {
    if (pid_ > 0 && !exited_ && !signaled_) kill(pid_, SIGKILL);
}

bool Child::WaitStopped() {
    int status = 0;
    return pid_ > 0 && waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
}

void Child::Continue() {
    if (pid_ > 0) kill(pid_, SIGCONT);
}

bool Child::Wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            while (out_ >= 0) Drain(1000);
            exited_ = WIFEXITED(status);
            signaled_ = WIFSIGNALED(status);
            status_ = exited_ ? WEXITSTATUS(status) : WTERMSIG(status);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            signaled_ = true;
            status_ = SIGKILL;
            return false;
        }
        Drain(10);
    }
}

long StepsOf(const std::string& output) {
    const size_t at = output.find("steps=");
    return at == std::string::npos ? -1 : std::atol(output.c_str() + at + 6);
}

Outcome RunChild(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
    Child child(args);
    Outcome outcome;
    outcome.finished = child.Wait(limit) && child.exited();
    if (child.exited()) outcome.exitStatus = child.status();
    outcome.output = child.output();
    return outcome;
}

}  // namespace reliability

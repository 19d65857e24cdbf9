// SPDX-License-Identifier: MIT
// Runs reliability_child in a process of its own, with a bound on the wait.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace reliability {

class Child {
  public:
    explicit Child(const std::vector<std::string>& args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads standard output until a line ends; false on its end or the deadline.
    bool ReadLine(std::chrono::milliseconds limit, std::string* line);
    void Kill();
    // Waits until the child has stopped (SIGSTOP); false if it ended instead.
    bool WaitStopped();
    void Continue();
    // Waits for the end; false (and the child killed) if it did not come in time.
    bool Wait(std::chrono::milliseconds limit);

    bool exited() const { return exited_; }
    int status() const { return status_; }  // the exit status, or the signal
    bool killedBySignal() const { return signaled_; }
    const std::string& output() const { return output_; }

  private:
    void Drain(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    bool signaled_ = false;
    int status_ = -1;
    std::string output_;
    size_t consumed_ = 0;
};

struct Outcome {
    bool finished = false;  // ended by itself within the limit
    int exitStatus = -1;    // when it exited
    std::string output;
};

// N from the child's "steps=N"; -1 when missing.
long StepsOf(const std::string& output);

// Runs the child to its end, or kills it after `limit`.
Outcome RunChild(const std::vector<std::string>& args,
                 std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace reliability

#pragma once
// Runs zorbi-demo-service for a test: started on a free port with the given switches, stopped (and
// waited for) when the object goes away.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

class DemoServiceProcess {
  public:
    // Starts the service with these switches (no --port: it picks a free one) and waits for its
    // "listening on" line. Throws std::runtime_error when it does not come up.
    explicit DemoServiceProcess(std::vector<std::string> switches = {});
    DemoServiceProcess(const DemoServiceProcess&) = delete;
    DemoServiceProcess& operator=(const DemoServiceProcess&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT", no trailing slash.
    std::string baseUrl() const;
    // The service's request log so far (its stderr), one line per request.
    std::string log() const;
    // Stops the service with SIGTERM and waits for it; returns its exit status, or 128 + the signal
    // that ended it. Later calls return the same value.
    int Stop();
    pid_t pid() const { return process_->pid(); }

  private:
    TempDir folder_{"zorbi-demo-service"};  // holds the log; goes after the service has stopped
    int port_ = 0;
    std::optional<ChildProcess> process_;
};

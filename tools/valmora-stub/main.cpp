// valmora-stub: the loopback stand-in for the channel-manager service, as a
// program for the demo. It prints the address to post to and runs until
// interrupted; then it lists the requests it answered (method, path, action).
//
//   valmora-stub [--port N] [--reply ACTION=FILE]...
//
// --port N            listen on 127.0.0.1:N (default: a free port)
// --reply ACTION=FILE answer every request of ACTION with the XML in FILE
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ValmoraStub.h"

namespace {

int Usage() {
  std::cerr << "usage: valmora-stub [--port N] [--reply ACTION=FILE]...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0;
  std::vector<std::pair<std::string, std::string>> replies;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      char* end = nullptr;
      port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) return Usage();
    } else if (arg == "--reply" && i + 1 < argc) {
      std::string option = argv[++i];
      size_t eq = option.find('=');
      if (eq == std::string::npos) return Usage();
      std::ifstream file(option.substr(eq + 1), std::ios::binary);
      if (!file) {
        std::cerr << "valmora-stub: cannot read " << option.substr(eq + 1) << "\n";
        return 1;
      }
      std::ostringstream body;
      body << file.rdbuf();
      replies.emplace_back(option.substr(0, eq), body.str());
    } else {
      return Usage();
    }
  }

  // Wait for the end signal synchronously rather than in a handler.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    valmora_stub::Server server(static_cast<uint16_t>(port));
    for (auto& [action, body] : replies) server.SetReply(action, valmora_stub::Reply::Xml(body));
    std::cout << server.Url() << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
    for (const auto& request : server.Requests())
      std::cout << request.Method << " " << request.Target << " " << request.Action() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "valmora-stub: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

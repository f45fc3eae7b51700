// runner_bench — times StdProcessRunner::run against the plain C spawn loop on the same commands,
// alternating the two run by run so that both see the same machine state. Prints one line per case
// and runner: "<case> <runner> <ns> <ns> ..." with every run's time; bench/runner/run calls it in
// rounds between rounds of Python's subprocess.run and prints the medians and ratios.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "korvel_beads/runner/process_runner.hpp"
#include "spawn_loop.h"

namespace {

struct Case {
  const char* name;
  std::vector<std::string> argv;  // argv[0] is a path
  std::size_t out_bytes;
};

using Clock = std::chrono::steady_clock;

void print_samples(const char* name, const char* runner, const std::vector<long long>& samples) {
  std::printf("%s %s", name, runner);
  for (long long ns : samples) std::printf(" %lld", ns);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 20;
  if (argc == 3 && std::string(argv[1]) == "--runs") runs = std::atoi(argv[2]);
  const std::string head =
      std::getenv("KORVEL_BENCH_HEAD") ? std::getenv("KORVEL_BENCH_HEAD") : "/usr/bin/head";
  const std::string truth =
      std::getenv("KORVEL_BENCH_TRUE") ? std::getenv("KORVEL_BENCH_TRUE") : "/bin/true";
  const Case cases[] = {
      {"true", {truth}, 0},
      {"print_64k", {head, "-c", "65536", "/dev/zero"}, 65536},
  };

  korvel_beads::StdProcessRunner runner;
  for (const Case& c : cases) {
    korvel_beads::CommandSpec command{c.argv[0], {c.argv.begin() + 1, c.argv.end()}, "/"};
    std::vector<char*> cargv;
    for (const std::string& a : c.argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);

    std::vector<long long> ours, plain;
    for (int r = 0; r < runs; ++r) {
      {
        const auto t0 = Clock::now();
        auto out = runner.run(command);
        const auto t1 = Clock::now();
        if (!out || out->stdout.size() != c.out_bytes || out->exit_status != 0) {
          std::fprintf(stderr, "runner_bench: %s: unexpected result from the runner\n", c.name);
          return 1;
        }
        ours.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
      }
      {
        std::size_t out_bytes = 0, err_bytes = 0;
        int status = 0;
        const auto t0 = Clock::now();
        const int rc = spawn_capture_wait(cargv.data(), &out_bytes, &err_bytes, &status);
        const auto t1 = Clock::now();
        if (rc != 0 || out_bytes != c.out_bytes || status != 0) {
          std::fprintf(stderr, "runner_bench: %s: unexpected result from the C loop\n", c.name);
          return 1;
        }
        plain.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
      }
    }
    print_samples(c.name, "StdProcessRunner", ours);
    print_samples(c.name, "c_posix_spawn", plain);
  }
  return 0;
}

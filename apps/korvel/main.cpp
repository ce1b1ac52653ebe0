// The korvel executable: the real streams, environment and clocks handed to the CLI.

#include <iostream>

#include "apps/korvel/cli.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  korvel::SystemClock clock;
  korvel::SystemSleeper sleeper;
  auto environment = korvel::processEnvironment();
  korvel::cli::Context context{std::cout, std::cerr, environment, korvel::resolveFolders(environment), clock, sleeper};
  context.outIsTerminal = korvel::standardErrorIsTerminal();
  return korvel::cli::run(std::vector<std::string>(argv + 1, argv + argc), context);
}

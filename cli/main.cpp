// quillnet-cli: the BOOTP engine without a user interface. `listen` shows the devices that ask
// for an address; `assign` answers one device's next request with the given addresses; `serve`
// answers every device of a hosts file; `doctor` checks whether this PC can serve at all.
#include <CLI/CLI.hpp>

#include <array>
#include <atomic>
#include <csignal>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/assign.h"
#include "cli/doctor.h"
#include "cli/listen.h"
#include "cli/output.h"
#include "cli/serve.h"
#include "cli/serving.h"
#include "platform/console.h"

namespace {

// What ends listen and serve: Windows has no SIGTERM.
#ifdef _WIN32
constexpr char kUntilStopped[] = "until Ctrl+C";
#else
constexpr char kUntilStopped[] = "until Ctrl+C or SIGTERM";
#endif

using namespace quillnet::cli;

constexpr std::array<std::string_view, 5> kSubcommands = {"listen", "assign", "serve", "doctor",
                                                          "help"};

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

void AddTimeout(CLI::App* command, std::optional<double>& seconds) {
  command
      ->add_option_function<std::string>(
          "--timeout",
          [&seconds](const std::string& text) {
            double read = 0;
            ReadTimeout(text, read);
            seconds = read;
          },
          "Give up after SECONDS (above 0, at most 86400; default: wait for ever)")
      ->check(CLI::Validator(
          [](std::string& text) {
            double read = 0;
            return ReadTimeout(text, read) ? std::string() : std::string(kTimeoutRule);
          },
          "SECONDS"));
}

// Whether --json is among the arguments. A refusal of the arguments comes before the parser
// has read it, or instead of that, and is still one JSON object then.
bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") return false;
    if (argument == "--json") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** systemArgv) {
  quillnet::UseUtf8Console();
  // Read in UTF-8 from here on, as a path is handed on to the system in UTF-8.
  std::vector<std::string> texts = quillnet::Utf8Arguments(argc, systemArgv);
  std::vector<char*> utf8Argv;
  for (std::string& text : texts) utf8Argv.push_back(text.data());
  utf8Argv.push_back(nullptr);
  char** const argv = utf8Argv.data();
  Output argumentsOutput(AsksForJson(argc, argv), std::cout, std::cerr);
  if (auto refusal = CheckSubcommand(argc > 1 ? argv[1] : "", kSubcommands)) {
    return Refuse(argumentsOutput, *refusal);
  }
  // `help [SUBCOMMAND]` is read as `[SUBCOMMAND] --help`.
  std::vector<char*> arguments(argv, argv + argc);
  std::string helpFlag = "--help";
  if (argc > 1 && std::string_view(argv[1]) == "help") {
    if (argc > 2) {
      if (auto refusal = CheckSubcommand(argv[2], kSubcommands)) {
        return Refuse(argumentsOutput, *refusal);
      }
    }
    arguments.erase(arguments.begin() + 1);
    arguments.push_back(helpFlag.data());
  }

  CLI::App app{"Quillnet BOOTP server without the wizard."};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("quillnet-cli ") + QUILLNET_VERSION,
                       "Print the version and exit");
  app.footer(
      "Exit codes: 0 the reply was sent (assign), every check passed (doctor), or the run "
      "ended by Ctrl+C or, with --once, once every device was answered (listen, serve); "
      "1 a check failed (doctor); 2 invalid arguments, or a hosts file that cannot be read; "
      "3 the addresses failed the check, or the IP address is in use by another device or this "
      "PC, or the device declined it as in use or took another DHCP server's offer (assign), or "
      "the hosts file was refused (serve); "
      "4 the server could not start or stopped listening; 5 the reply could not be sent; "
      "6 no request from the device before the timeout or an interruption (assign), or not "
      "every device answered before the timeout or, with --once, before an interruption "
      "(serve); 7 the device did not answer at its new address within --confirm seconds or "
      "before an interruption (assign).");

  bool json = false;
  CLI::App* listen = app.add_subcommand("listen", "List the devices that ask for an address.");
  listen->add_flag("--json", json, "One JSON object per line");

  AssignArguments assignArgs;
  CLI::App* assign =
      app.add_subcommand("assign",
                         "Answer a device's next BOOTP or DHCP request with these addresses.");
  assign->add_option("MAC", assignArgs.mac, "The device's MAC address, e.g. 02:00:5e:10:20:30")
      ->required();
  assign->add_option("IP", assignArgs.addresses.ipAddress, "The IP address to give it")
      ->required();
  assign->add_option("MASK", assignArgs.addresses.subnetMask, "Its subnet mask")->required();
  assign->add_option("GATEWAY", assignArgs.addresses.defaultGateway,
                     "Its default gateway (none: 0.0.0.0)");
  AddTimeout(assign, assignArgs.timeoutSeconds);
  assign
      ->add_option_function<std::string>(
          "--confirm",
          [&assignArgs](const std::string& text) { ReadConfirm(text, assignArgs.confirmSeconds); },
          "After the reply, wait at most SECONDS for the device to answer ARP at its new "
          "address (0: do not check; default 5)")
      ->check(CLI::Validator(
          [](std::string& text) {
            double read = 0;
            return ReadConfirm(text, read) ? std::string() : std::string(kConfirmRule);
          },
          "SECONDS"));
  assign->add_flag("--force", assignArgs.force,
                   "Assign the IP address even when another device or this PC has it");
  assign->add_flag("--json", json, "One JSON object per line");

  ServeArguments serveArgs;
  CLI::App* serve = app.add_subcommand(
      "serve", std::string("Answer every device listed in a hosts file, ") + kUntilStopped + ".");
  serve
      ->add_option("--hosts", serveArgs.hostsPath,
                   "CSV lines MAC,IP,MASK[,GATEWAY]; a header line, # comments and blank lines "
                   "are allowed")
      ->required();
  serve->add_flag("--once", serveArgs.once, "End as soon as every device has been answered");
  AddTimeout(serve, serveArgs.timeoutSeconds);
  serve->add_flag("--json", json, "One JSON object per line");

  CLI::App* doctor = app.add_subcommand(
      "doctor", "Check whether this PC can serve BOOTP, and say how to fix what is wrong.");
  doctor->add_flag("--json", json, "One JSON object per line");

  // Read as `SUBCOMMAND --help` before parsing; here for the list of subcommands and its own
  // --help.
  std::string helpTopic;
  app.add_subcommand("help", "Print this help, or SUBCOMMAND's help.")
      ->add_option("SUBCOMMAND", helpTopic, "The subcommand to explain");

  try {
    app.parse(static_cast<int>(arguments.size()), arguments.data());
  } catch (const CLI::ParseError& error) {
    // --help and --version print and end with 0.
    if (error.get_exit_code() == 0) return app.exit(error);
    // One line per refusal; --help says the rest.
    argumentsOutput.Error(error.what());
    return kExitUsage;
  }

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  Output output(json, std::cout, std::cerr);
  if (*listen) return Listen(output, g_interrupted);
  if (*serve) return Serve(serveArgs, output, g_interrupted);
  if (*doctor) return RunDoctor(output);
  if (*assign) return Assign(assignArgs, output, g_interrupted);
  return app.exit(CLI::CallForHelp());
}

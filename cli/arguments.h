#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/device_network.h"
#include "wire/message.h"

namespace quillnet::cli {

// The program's exit codes; README lists them.
enum ExitCode : int {
  kExitSent = 0,
  kExitCheckFailed = 1,
  kExitUsage = 2,
  kExitRefused = 3,
  kExitStartFailed = 4,
  kExitSendFailed = 5,
  kExitTimeout = 6,
  kExitNotConfirmed = 7,
  // The address was given and confirmed, but the device was not made to keep it (`assign
  // --keep`); or the device did not read or set its start-up method (`startup`).
  kExitNotKept = 8,
  kExitOutputFailed = 9,
  // The commissioning record could not be read (`history`).
  kExitRecordUnreadable = 10,
};

// Why an input is not used, and the exit code that says so. The text has no line break.
struct Refusal {
  int exitCode = kExitUsage;
  std::string text;
};

inline constexpr double kMaxTimeoutSeconds = 86400;
// The shortest wait that is not 0: a clock can measure it, and it reads as written.
inline constexpr double kMinTimeoutSeconds = 0.001;

// How much of an input a refusal quotes, in characters: enough to recognise it, never a line
// that fills the terminal. A path gets more, as its end is often what tells it apart.
inline constexpr std::size_t kQuotedInputCharacters = 40;
inline constexpr std::size_t kQuotedPathCharacters = 200;

// `text` as a message shows what it was given: at most `limit` characters, then "…"; each
// byte that is not printable UTF-8 (NUL, control characters, a broken sequence) as \xNN, so
// nothing reaches the terminal but the text. Backslashes stay as typed: a Windows path reads
// as it was typed.
std::string ShownInput(std::string_view text, std::size_t limit = kQuotedInputCharacters);
// ShownInput in single quotes.
std::string QuotedInput(std::string_view text, std::size_t limit = kQuotedInputCharacters);

// A device's MAC address as typed: the strict text form only, never the all-zero address
// (a request without a hardware address would match it), nor a broadcast or multicast
// address, which no network card sends from.
std::optional<Refusal> ReadMacArgument(const std::string& text, DeviceKey& key);

struct AddressTexts {
  std::string ipAddress;
  std::string subnetMask;
  std::string defaultGateway;  // empty: none
};

// The three texts in their strict dotted form, then the check the wizard makes for the device
// at `where` (CheckDeviceAddresses): an address of this PC is refused too. `warnings`
// receives what does not refuse: the subnet warning, then the gateway's.
std::optional<Refusal> CheckAddresses(const AddressTexts& addresses, const DeviceNetwork& where,
                                      std::vector<std::string>& warnings);

// A timeout in seconds that can be waited: finite, from a millisecond to a day. What a
// refusal says after the option's name.
bool ReadTimeout(const std::string& text, double& seconds);
inline constexpr char kTimeoutRule[] = "must be a number of seconds from 0.001 to 86400.";

// How long assign waits for the device to answer at its new address: 0 (no check), or from a
// millisecond to a day.
bool ReadConfirm(const std::string& text, double& seconds);
inline constexpr char kConfirmRule[] =
    "must be 0 (no check) or a number of seconds from 0.001 to 86400.";

// Refuses a first argument that names no subcommand (empty: there is none), listing the ones
// there are. Options (a leading "-") are left to the argument parser.
std::optional<Refusal> CheckSubcommand(std::string_view first,
                                       std::span<const std::string_view> subcommands);

}  // namespace quillnet::cli

#include "bootp/arming.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quillnet {
namespace {

constexpr DeviceKey kDevice = 0x02005e102030;
constexpr DeviceKey kOther = 0x02005e102031;
constexpr Assignment kAddresses{0x1401a8c0u, 0x00ffffffu, 0x0101a8c0u};

using Answer = Arming::Answer;
using Verdict = Arming::Verdict;

// One event as the server feeds it. `arming` names the arming a send answers: 0 for the
// current one, else the generation.
struct Event {
  enum Kind { kArm, kAnswered, kSent, kDeclined, kOtherServer, kDisarm } kind;
  bool final = true;
  bool early = false;
  Answer answer = Answer::kFirst;  // kSent
  bool ack = false;                // kSent
  bool reached = true;             // kSent
  std::uint64_t arming = 0;        // kSent
};

Event Arm() { return {Event::kArm}; }
Event Disarm() { return {Event::kDisarm}; }
Event Declined() { return {Event::kDeclined}; }
Event OtherServer() { return {Event::kOtherServer}; }
Event Final() { return {Event::kAnswered, true}; }
Event Offer() { return {Event::kAnswered, false}; }
Event Early() { return {Event::kAnswered, true, true}; }
Event Sent(Answer answer, bool ack = false, bool reached = true, std::uint64_t arming = 0) {
  return {Event::kSent, true, false, answer, ack, reached, arming};
}

// What is seen after an event: the server's queries and what the policy is given.
struct Seen {
  bool armed = false;
  enum Rows { kNone, kFirstAnswer, kAnsweredAgain, kWatched } rows = kNone;
  bool replySent = false;
  Verdict verdict = Verdict::kNone;
  // What the event returned, where it returns something.
  std::optional<bool> result;
  std::optional<Answer> answer;
};

Seen Is(bool armed, Seen::Rows rows, bool replySent = false, Verdict verdict = Verdict::kNone) {
  Seen seen;
  seen.armed = armed;
  seen.rows = rows;
  seen.replySent = replySent;
  seen.verdict = verdict;
  return seen;
}

struct Step {
  Event event;
  Seen seen;
};

struct Path {
  std::string name;
  std::vector<Step> steps;
};

void PrintTo(const Path& path, std::ostream* out) { *out << path.name; }

const Seen kIdle = Is(false, Seen::kNone);
const Seen kWaiting = Is(true, Seen::kFirstAnswer);

Seen With(Seen seen, std::optional<bool> result, std::optional<Answer> answer = std::nullopt) {
  seen.result = result;
  seen.answer = answer;
  return seen;
}

Seen Observe(const Arming& arming) {
  Seen seen;
  seen.armed = arming.IsArmed();
  PolicyRows rows;
  arming.Rows(kDevice, rows);
  if (rows.armed != nullptr) {
    EXPECT_EQ(*rows.armed, kAddresses);
    seen.rows = rows.firstAnswer ? Seen::kFirstAnswer : Seen::kAnsweredAgain;
  } else if (rows.watched != nullptr) {
    EXPECT_EQ(*rows.watched, kAddresses);
    seen.rows = Seen::kWatched;
  }
  PolicyRows other;
  arming.Rows(kOther, other);
  EXPECT_EQ(other.armed, nullptr) << "another device is never the armed one";
  EXPECT_EQ(other.watched, nullptr);
  seen.replySent = arming.ReplySent();
  seen.verdict = arming.GetVerdict();
  return seen;
}

void Expect(const Seen& expected, const Seen& seen, const std::string& where) {
  EXPECT_EQ(seen.armed, expected.armed) << where;
  EXPECT_EQ(seen.rows, expected.rows) << where;
  EXPECT_EQ(seen.replySent, expected.replySent) << where;
  EXPECT_EQ(seen.verdict, expected.verdict) << where;
  if (expected.result) {
    EXPECT_EQ(seen.result, expected.result) << where;
  }
  if (expected.answer) {
    EXPECT_EQ(seen.answer, expected.answer) << where;
  }
}

class ArmingPaths : public ::testing::TestWithParam<Path> {};

TEST_P(ArmingPaths, FollowTheDevice) {
  Arming arming;
  std::size_t index = 0;
  for (const Step& step : GetParam().steps) {
    Seen seen;
    const Event& event = step.event;
    switch (event.kind) {
      case Event::kArm:
        seen.result = arming.Arm(kDevice, kAddresses);
        break;
      case Event::kAnswered:
        seen.answer = arming.Answered(event.final, event.early);
        break;
      case Event::kSent:
        arming.Sent(event.arming != 0 ? event.arming : arming.Generation(), event.answer,
                    event.ack, event.reached);
        break;
      case Event::kDeclined:
        arming.Declined();
        break;
      case Event::kOtherServer:
        arming.TookOtherServer();
        break;
      case Event::kDisarm:
        seen.result = arming.Disarm();
        break;
    }
    const Seen observed = Observe(arming);
    seen.armed = observed.armed;
    seen.rows = observed.rows;
    seen.replySent = observed.replySent;
    seen.verdict = observed.verdict;
    Expect(step.seen, seen, "step " + std::to_string(++index));
  }
}

const Seen kQueued = Is(true, Seen::kAnsweredAgain);
const Seen kServing = Is(false, Seen::kAnsweredAgain, true);
const Seen kServingUnsent = Is(false, Seen::kAnsweredAgain, false);

INSTANTIATE_TEST_SUITE_P(
    Table, ArmingPaths,
    ::testing::Values(
        // A BOOTP device asks, is answered, and asks again after a reboot.
        Path{"bootp",
             {{Arm(), With(kWaiting, true)},
              {Final(), With(kQueued, std::nullopt, Answer::kFirst)},
              {Arm(), With(kQueued, false)},
              {Sent(Answer::kFirst), kServing},
              {Final(), With(kServing, std::nullopt, Answer::kAgain)},
              {Sent(Answer::kAgain), kServing},
              {Disarm(), With(Is(false, Seen::kNone, true), false)}}},
        // A DHCP device is offered, acked, then declines the address it found in use.
        Path{"dhcp_declines_after_its_ack",
             {{Arm(), kWaiting},
              {Offer(), With(kWaiting, std::nullopt, Answer::kStep)},
              {Sent(Answer::kStep, false), kWaiting},
              {Final(), With(kQueued, std::nullopt, Answer::kFirst)},
              {Sent(Answer::kFirst, true), Is(false, Seen::kAnsweredAgain, true, Verdict::kAccepted)},
              {Declined(), Is(false, Seen::kWatched, true, Verdict::kDeclined)},
              {Declined(), Is(false, Seen::kWatched, true, Verdict::kDeclined)},
              {Disarm(), With(Is(false, Seen::kNone, true, Verdict::kDeclined), false)}}},
        // It declines before any answer, and a new arming starts clean.
        Path{"declined_then_armed_anew",
             {{Arm(), kWaiting},
              {Declined(), Is(false, Seen::kWatched, false, Verdict::kDeclined)},
              {Arm(), With(kWaiting, true)}}},
        // It takes another DHCP server's offer: nothing more is answered.
        Path{"other_server",
             {{Arm(), kWaiting},
              {Offer(), kWaiting},
              {OtherServer(), Is(false, Seen::kWatched, false, Verdict::kOtherServer)}}},
        // The answer at once leaves the arming waiting for the answer to the next request.
        Path{"early_answer",
             {{Arm(), kWaiting},
              {Early(), With(kWaiting, std::nullopt, Answer::kEarly)},
              {Sent(Answer::kEarly), Is(true, Seen::kFirstAnswer, true)},
              {Final(), With(Is(true, Seen::kAnsweredAgain, true), std::nullopt, Answer::kFirst)},
              {Sent(Answer::kFirst), kServing}}},
        // A decided answer goes out after Disarm, and is counted, but serves nobody after.
        Path{"disarmed_while_queued",
             {{Arm(), kWaiting},
              {Final(), kQueued},
              {Disarm(), With(kIdle, true)},
              {Sent(Answer::kFirst), Is(false, Seen::kNone, true)}}},
        // An answer to an earlier arming that finishes after a new one leaves it alone.
        Path{"late_send_of_an_earlier_arming",
             {{Arm(), kWaiting},
              {Final(), kQueued},
              {Disarm(), kIdle},
              {Arm(), kWaiting},
              {Sent(Answer::kFirst, true, true, 1), kWaiting}}},
        // A reply that did not reach the device's interface: answered, not sent, not accepted.
        Path{"not_sent",
             {{Arm(), kWaiting},
              {Final(), kQueued},
              {Sent(Answer::kFirst, true, false), kServingUnsent}}},
        // Nothing the device says counts while nothing is armed.
        Path{"idle",
             {{Disarm(), With(kIdle, false)},
              {Declined(), kIdle},
              {OtherServer(), kIdle}}}),
    [](const ::testing::TestParamInfo<Path>& info) { return info.param.name; });

}  // namespace
}  // namespace quillnet

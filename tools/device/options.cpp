#include "options.h"

#include "numbers.h"

namespace device {

namespace {
const long MOST_SECONDS = 366L * 24 * 3600;
const long MOST_TIMEOUT_MS = 3600L * 1000;

// Walks the arguments, handing out each option's value.
class Arguments {
 public:
  Arguments(const std::vector<std::string> &args, size_t first) : args_(args), at_(first) {}
  bool done() const { return at_ >= args_.size(); }
  const std::string &next() { return args_[at_++]; }
  bool value(const std::string &option, std::string *out, std::string *why) {
    if (done() || args_[at_].empty()) return *why = option + " needs a value", false;
    *out = next();
    return true;
  }
  bool number(const std::string &option, long min, long max, const char *unit, long *out,
              std::string *why) {
    std::string text;
    if (!value(option, &text, why)) return false;
    if (parseWhole(text, min, max, out)) return true;
    *why = option + " " + text + ": not a whole number of " + unit + " from " +
           std::to_string(min) + " to " + std::to_string(max);
    return false;
  }

 private:
  const std::vector<std::string> &args_;
  size_t at_;
};

bool isHelp(const std::string &a) { return a == "-h" || a == "--help"; }

bool parseTap(Arguments &args, TapOptions *tap, std::string *why) {
  while (!args.done()) {
    std::string a = args.next();
    bool ok = a == "--port"        ? args.value(a, &tap->port, why)
              : a == "--link"      ? args.value(a, &tap->link, why)
              : a == "--log"       ? args.value(a, &tap->log, why)
              : a == "--record"    ? args.value(a, &tap->record, why)
              : a == "--seconds"   ? args.number(a, 1, MOST_SECONDS, "seconds", &tap->seconds, why)
              : a == "--line-rate" ? (tap->lineRate = true)
                                   : (*why = "tap has no option " + a, false);
    if (!ok) return false;
  }
  if (tap->port.empty()) return *why = "tap needs --port DEVICE", false;
  if (tap->link.empty()) return *why = "tap needs --link PATH", false;
  return true;
}

bool parseConform(Arguments &args, ConformOptions *conform, std::string *why) {
  while (!args.done()) {
    std::string a = args.next();
    bool ok = a == "--port"     ? args.value(a, &conform->port, why)
              : a == "--log"    ? args.value(a, &conform->log, why)
              : a == "--record" ? args.value(a, &conform->record, why)
              : a == "--seconds"
                  ? args.number(a, 1, MOST_SECONDS, "seconds", &conform->seconds, why)
                  : (*why = "conform has no option " + a, false);
    if (!ok) return false;
  }
  if (conform->port.empty()) return *why = "conform needs --port DEVICE", false;
  return true;
}

bool parseGrade(Arguments &args, std::string *file, std::string *why) {
  while (!args.done()) {
    std::string a = args.next();
    if (a.size() > 1 && a[0] == '-') return *why = "grade has no option " + a, false;
    if (!file->empty()) return *why = "grade takes one FILE, not also " + a, false;
    *file = a;
  }
  if (file->empty()) return *why = "grade needs a FILE (a record made with --record)", false;
  return true;
}

bool parseScript(Arguments &args, Options *o, std::string *why) {
  while (!args.done()) {
    std::string a = args.next();
    bool ok = true;
    if (a == "--link")
      ok = args.value(a, &o->link, why);
    else if (a == "--timeout")
      ok = args.number(a, 1, MOST_TIMEOUT_MS, "milliseconds", &o->timeoutMs, why);
    else if (a == "--line-rate")
      o->lineRate = true;
    else if (a == "-")
      o->fromStdin = true;
    else if (a.size() > 1 && a[0] == '-')
      ok = (*why = "no option " + a, false);
    else
      o->commands.push_back(a);
    if (!ok) return false;
  }
  if (o->link.empty()) return *why = "the simulator needs --link PATH", false;
  return true;
}
}  // namespace

bool parseOptions(const std::vector<std::string> &args, Options *o, std::string *why) {
  for (const std::string &a : args)
    if (isHelp(a)) return o->mode = Options::HELP, true;
  std::string mode = args.empty() ? "" : args[0];
  if (mode == "tap") {
    o->mode = Options::TAP;
    Arguments rest(args, 1);
    return parseTap(rest, &o->tap, why);
  }
  if (mode == "conform") {
    o->mode = Options::CONFORM;
    Arguments rest(args, 1);
    return parseConform(rest, &o->conform, why);
  }
  if (mode == "grade") {
    o->mode = Options::GRADE;
    Arguments rest(args, 1);
    return parseGrade(rest, &o->gradeFile, why);
  }
  o->mode = Options::SCRIPT;
  Arguments all(args, 0);
  return parseScript(all, o, why);
}

}  // namespace device

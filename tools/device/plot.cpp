// Drawing a record (`talliver-device plot RECORD`): one SVG of the run, or of
// a window of it. The record is read twice: once to check it, as grade does,
// and to find its length; then its inputs go through the same view as grade's,
// and what the view makes of them (each message, each warning worked out
// again, the port events, the summary and the grades) is drawn as it comes.
// Nothing is kept per message, so memory does not grow with the record: where
// a lane's marks would pile up in one pixel column, the column shows their
// count instead, and the picture says so.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>

#include "modes.h"
#include "replay.h"
#include "stop.h"
#include "svg.h"

namespace device {

namespace {
// The picture's geometry in pixels: times run left to right over PLOT_W columns.
const int WIDTH = 1000, LEFT = 86, PLOT_W = 896;
const int BAND_TOP = 68, WARN_Y = 72, DEVICE_Y = 148, PROGRAM_Y = 212, BAND_BOTTOM = 260;
const int AXIS_Y = 266, LEGEND_Y = 322, STRIP_TOP = 360, STRIP_LINE = 15;
const int MOST_MARKS = 8;          // a lane's marks in one column drawn each; more, as a count
const int MOST_FC_JOINS = 2;       // keystrokes joined to their FCs in one column, busy or not
const size_t MOST_WAITING = 1024;  // keystrokes and questions waiting for their answers
const int FIRST_WARNINGS = 5;      // listed with their words under the picture

enum Lane { WARNINGS, DEVICE, PROGRAM, LANES };
// Label rows, the first beside the marks: there a keystroke's, an FC's and a
// warning's labels come first; the others take the rows beyond.
const int LABEL_ROWS = 3;
const int LABEL_ROW_Y[LANES][LABEL_ROWS] = {{92, 103, 0}, {135, 124, 113}, {232, 243, 254}};
const int BAND_LABEL_Y[LABEL_ROWS] = {63, 52, 0};

// The stretches of the run that the events begin and end, drawn as bands
// across the lanes: their colours, and their words in the legend.
const int BANDS = (int)Stretch::COUNT;
const char *const BAND_FILL[BANDS] = {"#7f7f7f", "#e9a23b", "#3b7dd8", "#c0504d"};
const char *const BAND_SAID[BANDS] = {"program's port closed", "device gone", "FC withheld",
                                      "a side not taking bytes"};

// How long a keystroke waited for its FC, by colour: within a tick, within two
// (after which the program is late), and later.
const struct {
  double ms;
  const char *colour, *said;
} LATENCY[] = {{100, "#1a7f3c", "up to 100 ms"},
               {200, "#7a9a01", "to 200 ms"},
               {400, "#d97a00", "to 400 ms"},
               {INFINITY, "#8e0152", "more"}};
const char *latencyColour(double ms) {
  int i = 0;
  while (ms > LATENCY[i].ms) i++;
  return LATENCY[i].colour;
}
const char *const RED = "#d62828", *const ANSWER = "#8a8a8a";

// About how wide a text is in a sans-serif font of this size, a little generously.
double textWidth(const std::string &text, double size) {
  double ems = 0;
  for (char c : text)
    ems += std::strchr("iljtf.,:;!|' ()[]", c) ? 0.36
           : std::strchr("mwMW@%", c)          ? 0.95
           : std::isupper((unsigned char)c)    ? 0.72
                                               : 0.56;
  return ems * size;
}

// A short name for a message, for its mark: the key's name, "flags 23", "FC".
std::string shortName(const Message &m) {
  switch (m.command) {
    case KEY_STROKE:
    case SYS_KEY_STROKE: {
      std::string said = describe(m, true);  // "key a", "system key a"
      return (m.command == SYS_KEY_STROKE ? "sys " : "") + said.substr(said.rfind("key ") + 4);
    }
    case MODIFIER_FLAGS: return format("flags %02X", m.data2);
    case QUERY_FLAGS: return "query";
    case IDENTIFY: return "identify";
    case IDENTITY: return "identity";
    case KEY_DONE: return "FC";
    default: return format("command %d", m.command);
  }
}

struct Mark {
  Lane lane;
  double x;
  std::string label, title;
  const char *colour;
  bool first = true;  // its label may take the first row
};

// A keystroke in the device's lane joined to its FC, or a question to its answer.
struct Join {
  double fromX, toX;
  const char *colour;
  bool answer;
};

// A keystroke waiting for its FC (from its last byte), or a question for its answer.
struct Waiting {
  int64_t us;
  int command;
};

class Picture {
 public:
  Picture(Svg &svg, const std::string &file, const RecordRead &read, int64_t fromUs, int64_t toUs)
      : svg_(svg), file_(file), read_(read), fromUs_(fromUs), toUs_(toUs) {
    for (auto &lane : busy_) lane.assign(PLOT_W, false);
    begin();
  }

  void record(const Entry &e);
  void line(const std::string &text, bool keep) {
    if (keep) summary_.push_back(text);
  }
  int finish();

 private:
  double x(int64_t us) const {
    return LEFT + (double)(us - fromUs_) * PLOT_W / (double)(toUs_ - fromUs_);
  }
  bool shown(int64_t us) const { return us >= fromUs_ && us <= toUs_; }
  int column(double at) const { return std::clamp((int)(at - LEFT), 0, PLOT_W - 1); }

  void begin();
  void message(const Entry &e, bool partial);
  // `kind` counts it ("no-fc", "bytes lost"); `label`, when given, names its mark.
  void warning(int64_t us, const std::string &kind, const std::string &label,
               const std::string &words);
  void event(const Entry &e);
  void band(Stretch b, int64_t untilUs);
  // The mark of something at `us`, to be given its words; none when it is
  // outside the window, or only counted where marks pile up.
  Mark *add(Lane lane, int64_t us, const char *colour);
  void flush();
  void draw(const Mark &m);
  void label(double at, const int *rowY, double *lastEnd, bool first, const std::string &text,
             const char *colour, const std::string &title = "");
  void axis();
  void legend();
  int strip();

  Svg &svg_;
  std::string file_;
  const RecordRead &read_;
  int64_t fromUs_, toUs_;

  int current_ = 0;  // the column whose marks are being gathered
  std::vector<Mark> gathered_;
  std::vector<Join> joins_;
  int counts_[LANES] = {};
  std::vector<bool> busy_[LANES];
  double labelEnd_[LANES][LABEL_ROWS] = {}, bandLabelEnd_[LABEL_ROWS] = {};
  long labelsLeftOut_ = 0, busyColumns_ = 0;

  int64_t bandFrom_[BANDS] = {-1, -1, -1, -1};
  bool banded_[BANDS] = {};  // drawn, and so in the legend
  std::deque<Waiting> keystrokes_, questions_;

  long messages_[2] = {}, keystrokeCount_ = 0, answers_ = 0, answersThisSecond_ = 0;
  long mostAnswers_ = 0, second_ = -1;
  Latencies latencies_;
  std::vector<std::pair<std::string, long>> warningCounts_;
  std::vector<std::string> firstWarnings_;
  long warningTotal_ = 0;
  std::vector<std::string> summary_;
};

void Picture::begin() {
  const Entry &start = read_.start;
  svg_.begin(WIDTH);
  svg_.put("<title>%s</title>\n", xmlEscaped("talliver-device plot of " + file_).c_str());
  // The scale, for whoever reads the picture with a program.
  svg_.put(
      "<g id=\"scale\" data-left=\"%d\" data-right=\"%d\" data-from-us=\"%lld\" "
      "data-to-us=\"%lld\" data-warnings-y=\"%d\" data-device-y=\"%d\" data-program-y=\"%d\"/>\n",
      LEFT, LEFT + PLOT_W, (long long)fromUs_, (long long)toUs_, WARN_Y + 4, DEVICE_Y, PROGRAM_Y);
  svg_.put("<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
  std::string whole = fromUs_ == 0 && toUs_ == std::max<int64_t>(read_.lastUs, 1)
                          ? format("%.1f s", (double)toUs_ / 1e6)
                          : format("%.3f s to %.3f s of %.1f s", (double)fromUs_ / 1e6,
                                   (double)toUs_ / 1e6, (double)read_.lastUs / 1e6);
  // Long paths are cut to their names, whole in the tooltip.
  auto heading = [&](const std::string &port, const std::string &file) {
    return format("A %s record%s%s, %s: %s", start.mode.c_str(), port.empty() ? "" : " of ",
                  port.c_str(), whole.c_str(), file.c_str());
  };
  auto name = [](const std::string &path) {
    return path.find('/') == std::string::npos ? path : ".../" + path.substr(path.rfind('/') + 1);
  };
  const std::string &port =
      start.port.empty() ? start.link : start.port;  // script mode's: its link
  std::string shown = heading(port, file_);
  if (textWidth(shown, 15) > WIDTH - 24) shown = heading(name(port), file_);
  if (textWidth(shown, 15) > WIDTH - 24) shown = heading(name(port), name(file_));
  svg_.text(12, 22, shown, "font-size=\"14\" font-weight=\"bold\"", heading(port, file_));
  axis();
  for (int y : {DEVICE_Y, PROGRAM_Y})
    svg_.put("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#bbbbbb\"/>\n", LEFT, y,
             LEFT + PLOT_W, y);
  svg_.text(8, WARN_Y + 8, "warnings", "font-weight=\"bold\" fill=\"#d62828\"");
  svg_.text(8, DEVICE_Y + 4, "device", "font-weight=\"bold\"");
  svg_.text(8, DEVICE_Y + 16, "to the program", "font-size=\"9\" fill=\"#666666\"");
  svg_.text(8, PROGRAM_Y + 4, "program", "font-weight=\"bold\"");
  svg_.text(8, PROGRAM_Y + 16, "to the device", "font-size=\"9\" fill=\"#666666\"");
  // A tap's program has not opened its port when the run begins.
  if (start.mode == "tap") bandFrom_[(int)Stretch::PortClosed] = 0;
  if (start.mode == "tap" && fromUs_ == 0)
    label(LEFT, BAND_LABEL_Y, bandLabelEnd_, true, "no program yet", "#333333");
}

// The time axis under the lanes, with a faint line up through them at each tick.
void Picture::axis() {
  double span = (double)(toUs_ - fromUs_), step = 1;
  for (double unit = 1; step * 10 < span; unit *= 10)
    for (double m : {1, 2, 5})
      if (step * 10 < span) step = unit * m;
  int decimals = std::max(0, (int)std::ceil(-std::log10(step / 1e6) - 1e-9));
  svg_.put("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#333333\"/>\n", LEFT, AXIS_Y,
           LEFT + PLOT_W, AXIS_Y);
  for (double t = std::ceil((double)fromUs_ / step) * step; t <= (double)toUs_; t += step) {
    double at = x((int64_t)t);
    svg_.put("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#e6e6e6\"/>\n", at,
             BAND_TOP, at, AXIS_Y);
    svg_.put("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#333333\"/>\n", at, AXIS_Y,
             at, AXIS_Y + 5);
    svg_.text(at, AXIS_Y + 17, format("%.*f", decimals, t / 1e6), "text-anchor=\"middle\"");
  }
  svg_.text(LEFT + PLOT_W / 2.0, AXIS_Y + 33, "time since the run began (s)",
            "text-anchor=\"middle\" fill=\"#444444\"");
}

void Picture::record(const Entry &e) {
  const char *name = kindOf(e.event).name;
  if (e.event == Event::Message || e.event == Event::Partial)
    return message(e, e.event == Event::Partial);
  if (e.event == Event::Dropped || e.event == Event::Lost)
    return warning(e.us, std::string("bytes ") + name, format("%zu bytes %s", e.bytes.size(), name),
                   format("%zu bytes %s from the %s: %s", e.bytes.size(), name, e.dir.c_str(),
                          e.meaning.c_str()));
  for (const std::string &w : e.warnings) warning(e.us, w.substr(0, w.find(':')), "", w);
  if (e.event != Event::Warning && e.warnings.empty()) event(e);
}

void Picture::message(const Entry &e, bool partial) {
  bool fromDevice = e.dir == "device";
  Lane lane = fromDevice ? DEVICE : PROGRAM;
  int64_t lastUs = e.byteUs.back();
  auto title = [&](const std::string &meaning) {
    return format("%.1f ms: %s: %s", (double)e.us / 1000, hex(e.bytes).c_str(), meaning.c_str());
  };
  if (partial) {
    if (Mark *m = add(lane, e.us, "#555555"))
      m->label = hex(e.bytes) + "...", m->title = title("a message begun and never ended");
    return;
  }
  Decoder decoder;
  std::optional<Message> decoded;
  for (uint8_t b : e.bytes) decoded = decoder.feed(b);
  if (!decoded) return;
  const Message &msg = *decoded;
  messages_[fromDevice ? 0 : 1]++;
  const char *colour = isKeystroke(msg.command)        ? "#1f4e79"
                       : msg.command == MODIFIER_FLAGS ? "#6a3d9a"
                       : msg.command != KEY_DONE       ? "#00798c"
                                                       : "#444444";
  auto wait = [&](std::deque<Waiting> &queue) {
    if (queue.size() == MOST_WAITING) queue.pop_front();
    queue.push_back({lastUs, msg.command});
  };
  // The program answers in the order it was asked: each answer goes with the
  // oldest question of its kind, each FC with the oldest keystroke without one.
  auto answer = [&](std::deque<Waiting> &queue, int asked) -> std::optional<Waiting> {
    auto it = std::find_if(queue.begin(), queue.end(),
                           [&](const Waiting &w) { return asked < 0 || w.command == asked; });
    if (it == queue.end()) return std::nullopt;
    Waiting w = *it;
    queue.erase(it);
    return w;
  };
  std::optional<Waiting> asked;
  double latencyMs = -1;
  if (fromDevice && isKeystroke(msg.command)) keystrokeCount_++, wait(keystrokes_);
  if (fromDevice && (msg.command == QUERY_FLAGS || msg.command == IDENTIFY)) wait(questions_);
  if (!fromDevice && msg.command == KEY_DONE && (asked = answer(keystrokes_, -1))) {
    latencies_.add(lastUs - asked->us);
    latencyMs = (double)(lastUs - asked->us) / 1000;
    colour = latencyColour(latencyMs);
  }
  bool answers = !fromDevice && (msg.command == MODIFIER_FLAGS || msg.command == IDENTITY) &&
                 (asked = answer(questions_, msg.command == IDENTITY ? IDENTIFY : QUERY_FLAGS));
  if (answers) {
    answers_++;
    long second = (long)(lastUs / 1000000);
    answersThisSecond_ = second == second_ ? answersThisSecond_ + 1 : 1, second_ = second;
    mostAnswers_ = std::max(mostAnswers_, answersThisSecond_);
  }
  for (const std::string &w : e.warnings) warning(lastUs, w.substr(0, w.find(':')), "", w);
  Mark *m = add(lane, e.us, colour);
  if (m) {
    m->first = isKeystroke(msg.command) || msg.command == KEY_DONE;
    m->label = shortName(msg);
    m->title = title(e.meaning);
    if (latencyMs >= 0) m->title += format(", %.1f ms after its keystroke", latencyMs);
  }
  if (asked && shown(asked->us) && shown(e.us))
    joins_.push_back({x(asked->us), x(e.us), answers ? ANSWER : colour, answers});
}

void Picture::warning(int64_t us, const std::string &kind, const std::string &label,
                      const std::string &words) {
  auto counted = std::find_if(warningCounts_.begin(), warningCounts_.end(),
                              [&](const auto &c) { return c.first == kind; });
  if (counted == warningCounts_.end())
    warningCounts_.push_back({kind, 1});
  else
    counted->second++;
  if (warningTotal_++ < FIRST_WARNINGS)
    firstWarnings_.push_back(format("%10.1f ms  %s", (double)us / 1000, words.c_str()));
  if (Mark *m = add(WARNINGS, us, RED))
    m->label = label.empty() ? kind : label,
    m->title = format("%.1f ms: %s", (double)us / 1000, words.c_str());
}

void Picture::event(const Entry &e) {
  const EventKind &kind = kindOf(e.event);
  // The watch starts over: no keystroke or question waits any more.
  if (kind.restartsWatch) keystrokes_.clear(), questions_.clear();
  if (kind.ends != Stretch::None) band(kind.ends, e.us);
  if (kind.begins != Stretch::None && bandFrom_[(int)kind.begins] < 0)
    bandFrom_[(int)kind.begins] = e.us;
  if (!shown(e.us) || !kind.label) return;
  double at = x(e.us);
  svg_.put(
      "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#555555\" "
      "stroke-dasharray=\"2,2\"/>\n",
      at, BAND_TOP, at, BAND_BOTTOM);
  label(at, BAND_LABEL_Y, bandLabelEnd_, true, kind.label, "#333333",
        format("%.1f ms: %s", (double)e.us / 1000, e.meaning.c_str()));
}

// A stretch from when the band opened until `untilUs`, over every lane.
void Picture::band(Stretch stretch, int64_t untilUs) {
  int b = (int)stretch;
  int64_t from = std::max(bandFrom_[b], fromUs_), until = std::min(untilUs, toUs_);
  if (bandFrom_[b] >= 0 && from < until) {
    svg_.put(
        "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\" "
        "fill-opacity=\"0.2\"/>\n",
        x(from), BAND_TOP, std::max(1.0, x(until) - x(from)), BAND_BOTTOM - BAND_TOP, BAND_FILL[b]);
    banded_[b] = true;
  }
  bandFrom_[b] = -1;
}

// Marks come in nearly the order of their times; those of one column are
// gathered and drawn once the next column begins.
Mark *Picture::add(Lane lane, int64_t us, const char *colour) {
  if (!shown(us)) return nullptr;
  Mark m{lane, x(us), "", "", colour};
  int c = column(m.x);
  if (c > current_) flush(), current_ = c;
  if (++counts_[lane] > MOST_MARKS) return nullptr;
  gathered_.push_back(m);
  return &gathered_.back();
}

void Picture::flush() {
  for (int lane = 0; lane < LANES; lane++) {
    int n = counts_[lane];
    if (n <= MOST_MARKS) continue;
    // Too many to tell apart: their count, as a bar that grows with its logarithm.
    busy_[lane][current_] = true, busyColumns_++;
    double h = std::min(34.0, 4 + 3 * std::log2((double)n));
    int y = lane == WARNINGS ? WARN_Y + 4 : lane == DEVICE ? DEVICE_Y : PROGRAM_Y;
    svg_.put(
        "<rect x=\"%d\" y=\"%.1f\" width=\"1\" height=\"%.1f\" fill=\"%s\"><title>%d "
        "in this column</title></rect>\n",
        LEFT + current_, y - h / 2, h, lane == WARNINGS ? RED : "#3d5a80", n);
  }
  // Every FC's join says how long it took, up to a few a column; an answer's
  // only where both its ends are marks.
  int fcJoins = 0;
  for (const Join &j : joins_) {
    if (j.answer ? busy_[DEVICE][column(j.fromX)] || busy_[PROGRAM][current_]
                 : fcJoins++ >= MOST_FC_JOINS)
      continue;
    svg_.put("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\"%s/>\n", j.fromX,
             DEVICE_Y + 8, j.toX, PROGRAM_Y - 8, j.colour,
             j.answer ? " stroke-width=\"1\" stroke-opacity=\"0.6\" stroke-dasharray=\"3,2\""
                      : " stroke-width=\"1.5\"");
  }
  for (const Mark &m : gathered_)
    if (counts_[m.lane] <= MOST_MARKS) draw(m);
  gathered_.clear(), joins_.clear();
  for (int &n : counts_) n = 0;
}

// A label beside what it names, at `at`, in the nearest row where it overlaps
// no other (the row beside the marks only when `first`), left of it at the
// picture's right edge; left out and counted where no row has room.
void Picture::label(double at, const int *rowY, double *lastEnd, bool first,
                    const std::string &text, const char *colour, const std::string &title) {
  double width = textWidth(text, 10), start = at + 2 + width > WIDTH - 4 ? at - 2 - width : at + 2;
  for (int row = first ? 0 : 1; row < LABEL_ROWS && rowY[row]; row++) {
    if (lastEnd[row] > start) continue;
    lastEnd[row] = start + width + 4;
    return svg_.text(start, rowY[row], text, format("font-size=\"10\" fill=\"%s\"", colour).c_str(),
                     title);
  }
  labelsLeftOut_++;
}

void Picture::draw(const Mark &m) {
  if (m.lane == WARNINGS) {
    svg_.put(
        "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" "
        "stroke-opacity=\"0.45\"/>\n",
        m.x, WARN_Y + 8, m.x, PROGRAM_Y + 8, RED);
    svg_.put("<path d=\"M%.1f %dl-4.5 -8h9z\" fill=\"%s\"><title>%s</title></path>\n", m.x,
             WARN_Y + 8, RED, xmlEscaped(m.title).c_str());
  } else {
    int y = m.lane == DEVICE ? DEVICE_Y : PROGRAM_Y;
    svg_.put(
        "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" "
        "stroke-width=\"2\"><title>%s</title></line>\n",
        m.x, y - 8, m.x, y + 8, m.colour, xmlEscaped(m.title).c_str());
  }
  label(m.x, LABEL_ROW_Y[m.lane], labelEnd_[m.lane], m.first, m.label, m.colour);
}

void Picture::legend() {
  int y = LEGEND_Y;
  double at = 12;
  auto key = [&](const std::string &words) {
    svg_.text(at, y + 4, words, "fill=\"#333333\"");
    at += textWidth(words, 11) + 16;
  };
  auto slant = [&](const char *colour, const char *dashes) {
    svg_.put(
        "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" "
        "stroke-width=\"2\" stroke-dasharray=\"%s\"/>\n",
        at, y + 5, at + 12, y - 5, colour, dashes);
    at += 17;
  };
  svg_.put(
      "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#1f4e79\" "
      "stroke-width=\"2\"/>\n",
      at, y - 6, at, y + 6);
  at += 6;
  key("a message");
  svg_.put("<path d=\"M%.1f %dl-4.5 -8h9z\" fill=\"%s\"/>\n", at + 4, y + 4, RED);
  at += 12;
  key("a warning");
  slant(ANSWER, "3,2");
  key("a question and its answer");
  for (int b = 0; b < BANDS; b++) {
    if (!banded_[b]) continue;
    svg_.put(
        "<rect x=\"%.1f\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\" "
        "fill-opacity=\"0.35\"/>\n",
        at, y - 6, BAND_FILL[b]);
    at += 16;
    key(BAND_SAID[b]);
  }
  y += 18, at = 12;
  key("a keystroke and its FC, by how long the FC took:");
  at -= 8;
  for (const auto &l : LATENCY) slant(l.colour, "none"), key(l.said);
  if (busyColumns_ == 0) return;
  svg_.put("<rect x=\"%.1f\" y=\"%d\" width=\"3\" height=\"14\" fill=\"#3d5a80\"/>\n", at, y - 7);
  at += 8;
  key(format("more than %d messages in a %.1f ms column: taller, more", MOST_MARKS,
             (double)(toUs_ - fromUs_) / PLOT_W / 1000));
}

// The figures under the picture, a line each; returns the picture's height.
int Picture::strip() {
  int y = STRIP_TOP;
  auto say = [&](const std::string &text, const char *attributes = "fill=\"#222222\"") {
    // Bold is wider: cut to what fits, with the whole line as its tooltip.
    double scale = std::strstr(attributes, "bold") ? 1.18 : 1;
    size_t fits = text.size();
    while (fits > 3 && textWidth(text.substr(0, fits), 11) * scale > WIDTH - 24) fits--;
    bool cut = fits < text.size();
    svg_.text(12, y, cut ? text.substr(0, fits - 3) + "..." : text, attributes, cut ? text : "");
    y += STRIP_LINE;
  };
  bool windowed = fromUs_ > 0 || toUs_ < read_.lastUs;
  say(windowed ? "The whole record's figures (the picture shows a window of it):"
               : "The record's figures:",
      "font-weight=\"bold\"");
  say(format("messages: %ld from the device, %ld from the program; %ld keystrokes", messages_[0],
             messages_[1], keystrokeCount_));
  say(latencies_.count() == 0
          ? "FC latency: no keystroke was answered"
          : format("FC latency, from a keystroke to its FC, over %ld: p50 %s, p99 %s, max %s",
                   latencies_.count(), latencies_.percentile(0.5).c_str(),
                   latencies_.percentile(0.99).c_str(), latencies_.largest().c_str()));
  say(format("answers to queries and identifies: %ld, at most %ld in one second", answers_,
             mostAnswers_));
  std::string counts;
  for (const auto &c : warningCounts_)
    counts += format("%s%s %ld", counts.empty() ? "" : ", ", c.first.c_str(), c.second);
  say("warnings: " + (counts.empty() ? "none" : counts),
      counts.empty() ? "fill=\"#222222\"" : "fill=\"#d62828\"");
  std::string prefix = read_.start.mode + ": ";
  for (const std::string &line : summary_) {
    std::string text =
        line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line;
    bool grade = text.compare(0, 4, "PASS") == 0 || text.compare(0, 4, "FAIL") == 0 ||
                 text.compare(0, 10, "NOT GRADED") == 0;
    if (text.compare(0, 5, "bytes") == 0 || text.compare(0, 11, "line errors") == 0)
      say(text);
    else if (grade)
      say(text, text[0] == 'P'   ? "fill=\"#1a7f3c\""
                : text[0] == 'F' ? "fill=\"#d62828\""
                                 : "fill=\"#8a6d00\"");
    else if (text.find(" passed, ") != std::string::npos)
      say(text, "font-weight=\"bold\"");
  }
  if (!firstWarnings_.empty()) {
    say(warningTotal_ > FIRST_WARNINGS ? format("the first %d warnings:", FIRST_WARNINGS)
                                       : "the warnings:",
        "font-weight=\"bold\"");
    for (const std::string &w : firstWarnings_) say(w, "fill=\"#d62828\" xml:space=\"preserve\"");
  }
  if (!read_.note.empty())
    say(read_.note + (read_.cutInLine ? ": drawn up to the line before it" : ""),
        "fill=\"#d62828\" font-weight=\"bold\"");
  return y + 4;
}

int Picture::finish() {
  flush();
  for (int b = 0; b < BANDS; b++) band((Stretch)b, read_.lastUs);
  if (!read_.note.empty() && shown(read_.lastUs)) {
    double at = x(read_.lastUs);
    svg_.put(
        "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" stroke-width=\"2\"/>\n",
        at, BAND_TOP, at, BAND_BOTTOM, RED);
    svg_.text(at - 2, 52, "record cut", "font-size=\"10\" text-anchor=\"end\" fill=\"#d62828\"",
              read_.note);
  }
  std::vector<std::string> notes;
  if (labelsLeftOut_ > 0)
    notes.push_back(format("%ld label%s left out where they would overlap", labelsLeftOut_,
                           labelsLeftOut_ == 1 ? "" : "s"));
  if (busyColumns_ > 0)
    notes.push_back("where marks would pile up, bars give their count per pixel column");
  if (!notes.empty()) {
    std::string text = notes[0] + (notes.size() > 1 ? "; " + notes[1] : "");
    svg_.text(12, 40, text + ": --from and --to draw a window in full",
              "font-size=\"10\" fill=\"#666666\"");
  }
  legend();
  return strip();
}
}  // namespace

Outcome runPlot(const Options &o) {
  struct stat st;
  if (stat(o.file.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return usage(o.file + ": not a regular file: plot reads a record twice");
  RecordRead read;
  Outcome checked = readRecord(o.file, &read);
  if (stopSignal) return failure("stopped by a signal: no picture written");
  if (checked.code != EXIT_PASSED) return checked;
  int64_t fromUs = o.fromMs < 0 ? 0 : o.fromMs * 1000;
  int64_t toUs = o.toMs < 0 ? std::max(read.lastUs, fromUs + 1) : o.toMs * 1000;
  if (fromUs >= std::max<int64_t>(read.lastUs, 1))
    return usage(
        format("--from %ld: the record ends at %.1f ms", o.fromMs, (double)read.lastUs / 1000));

  std::string out = o.out;
  if (out.empty()) {
    size_t slash = o.file.rfind('/'), dot = o.file.rfind('.');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    out = o.file.substr(0, hasExtension ? dot : o.file.size()) + ".svg";
  }
  Svg svg;
  std::string why;
  if (!svg.create(out, o.file, &why)) return usage(why);

  Picture picture(svg, o.file, read, fromUs, toUs);
  Transcript lines([&](const std::string &text, bool keep) { picture.line(text, keep); },
                   [&](const Entry &e) { picture.record(e); });
  const Entry &start = read.start;
  Judge judge(start.marksLineErrors, start.seconds * 1000000);
  View view(lines, start.mode, start.marksLineErrors, start.mode == "conform" ? &judge : nullptr);
  Replayer replayer(view);
  RecordRead again;
  Outcome second = readRecord(o.file, &again, [&](const Entry &e) { replayer.take(e); });
  if (stopSignal) return failure("stopped by a signal: no picture written");
  if (second.code != EXIT_PASSED) return second;
  view.end(replayer.finish());
  if (!svg.finish(picture.finish(), &why)) return failure(why);
  Transcript said(true);
  said.line(format("plot: %s: %.1f s of a %s record, %s", out.c_str(),
                   (double)(toUs - fromUs) / 1e6, start.mode.c_str(), o.file.c_str()));
  return said.finish(Outcome());
}

}  // namespace device

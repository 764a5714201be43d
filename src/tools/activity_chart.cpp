#include "tools/activity_chart.h"

#include <algorithm>
#include <cstdio>

namespace dexweb::ctl {
namespace {

using Minutes = std::chrono::minutes;

constexpr int kBar = 10;
constexpr int kLeft = 50, kTop = 34, kPlotWidth = static_cast<int>(kActivityMinutes) * kBar, kPlotHeight = 150;
constexpr int kBaseline = kTop + kPlotHeight;
constexpr int kWidth = kLeft + kPlotWidth + 30, kHeight = kBaseline + 46;
constexpr int kTickMinutes = 10;
constexpr const char* kAcceptedColour = "#2a2";
constexpr const char* kRefusedColour = "#c22";

// Coordinates to a tenth of a pixel, without a trailing ".0".
std::string px(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string out = text;
  if (out.ends_with(".0")) out.resize(out.size() - 2);
  return out;
}

std::string clock_time(DateTime t) { return format_datetime(t).substr(11, 5); }

std::string line(double x1, double y1, double x2, double y2, const char* colour) {
  return "<line x1=\"" + px(x1) + "\" y1=\"" + px(y1) + "\" x2=\"" + px(x2) + "\" y2=\"" + px(y2) + "\" stroke=\"" + colour +
         "\"/>";
}

std::string label(double x, double y, const std::string& words, const std::string& more = "") {
  return "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\"" + more + ">" + words + "</text>";
}

// The count axis's step: 1, 2 or 5 times a power of ten, so that at most five steps reach
// the busiest minute.
long long count_step(long long most) {
  for (long long scale = 1;; scale *= 10)
    for (const long long step : {1, 2, 5})
      if (most <= 5 * step * scale) return step * scale;
}

double height_of(long long count, long long top) { return static_cast<double>(count) * kPlotHeight / static_cast<double>(top); }

std::string count_axis(long long top, long long step) {
  std::string out = "<g id=\"count-axis\" font-size=\"11\" text-anchor=\"end\">";
  for (long long value = 0; value <= top; value += step) {
    const double y = kBaseline - height_of(value, top);
    out += line(kLeft, y, kLeft + kPlotWidth, y, "#ddd") + label(kLeft - 6, y + 4, std::to_string(value));
  }
  out += line(kLeft, kTop, kLeft, kBaseline, "#333");
  out += label(-(kTop + kPlotHeight / 2.0), 14, "recipients per minute", " transform=\"rotate(-90)\" text-anchor=\"middle\"");
  return out + "</g>";
}

// x of a moment of the last hour: now at the right end of the plot.
double x_of(DateTime t, DateTime now) {
  return kLeft + kPlotWidth - std::chrono::duration<double, Minutes::period>(now - t).count() * kBar;
}

// Ticks at the whole ten minutes of the clock.
std::string time_axis(DateTime now) {
  std::string out = "<g id=\"time-axis\" font-size=\"11\" text-anchor=\"middle\">" +
                    line(kLeft, kBaseline, kLeft + kPlotWidth, kBaseline, "#333");
  const DateTime start = now - Minutes(kActivityMinutes);
  DateTime tick = std::chrono::floor<Minutes>(now) - Minutes(civil(now).minute % kTickMinutes);
  for (; tick >= start; tick -= Minutes(kTickMinutes)) {
    const double x = x_of(tick, now);
    out += line(x, kBaseline, x, kBaseline + 5, "#333") + label(x, kBaseline + 18, clock_time(tick));
  }
  out += label(kLeft + kPlotWidth / 2.0, kBaseline + 38, "local time, one bar per minute");
  return out + "</g>";
}

std::string bar(const char* kind, const char* colour, int x, double y, double height, const std::string& tip) {
  return "<rect class=\"" + std::string(kind) + "\" x=\"" + std::to_string(x) + "\" y=\"" + px(y) + "\" width=\"" +
         std::to_string(kBar - 2) + "\" height=\"" + px(height) + "\" fill=\"" + colour + "\"><title>" + tip +
         "</title></rect>";
}

// Accepted at the bottom of each minute's bar, refused on top of them.
std::string bars(const LogActivity& activity, long long top) {
  std::string out = "<g id=\"bars\">";
  for (std::size_t i = 0; i < kActivityMinutes; ++i) {
    const int x = kLeft + kPlotWidth - static_cast<int>(i + 1) * kBar + 1;
    const std::string minute = clock_time(activity.now - Minutes(i));
    const double accepted = height_of(activity.accepted[i], top), refused = height_of(activity.refused[i], top);
    if (activity.accepted[i] > 0)
      out += bar("accepted", kAcceptedColour, x, kBaseline - accepted, accepted,
                 minute + ": " + std::to_string(activity.accepted[i]) + " accepted");
    if (activity.refused[i] > 0)
      out += bar("refused", kRefusedColour, x, kBaseline - accepted - refused, refused,
                 minute + ": " + std::to_string(activity.refused[i]) + " refused");
  }
  return out + "</g>";
}

std::string legend() {
  std::string out = "<g id=\"legend\" font-size=\"12\">";
  int x = kLeft;
  for (const auto& [kind, colour] : {std::pair{"accepted", kAcceptedColour}, std::pair{"refused", kRefusedColour}}) {
    out += "<rect x=\"" + std::to_string(x) + "\" y=\"10\" width=\"12\" height=\"12\" fill=\"" + colour + "\"/>" +
           label(x + 18, 20, kind);
    x += 100;
  }
  return out + "</g>";
}

}  // namespace

std::string activity_chart(const LogActivity& activity) {
  long long most = 1;
  for (std::size_t i = 0; i < kActivityMinutes; ++i)
    most = std::max<long long>(most, static_cast<long long>(activity.accepted[i]) + activity.refused[i]);
  const long long step = count_step(most);
  const long long top = (most + step - 1) / step * step;
  return "<svg id=\"activity\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
         std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(kHeight) +
         "\" role=\"img\" font-family=\"sans-serif\" style=\"max-width:100%;height:auto\">"
         "<title>Recipients accepted and refused per minute, last hour</title>" +
         count_axis(top, step) + time_axis(activity.now) + bars(activity, top) + legend() + "</svg>";
}

}  // namespace dexweb::ctl

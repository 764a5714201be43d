#include "intake/internal/filter_text.h"

namespace dexweb {
namespace {

constexpr std::string_view kCrLf = "\r\n";

SplitLine split_at(std::string_view text, std::size_t at, std::size_t width) {
  return {std::string(text.substr(0, at)), std::string(text.substr(at + width))};
}

}  // namespace

SplitLine split_first_line(std::string_view text) {
  const std::size_t npos = std::string_view::npos;
  std::size_t crlf = text.find(kCrLf), cr = text.find('\r'), lf = text.find('\n');
  if (crlf != npos && crlf <= cr && crlf < lf) return split_at(text, crlf, kCrLf.size());
  if (cr != npos && cr < lf) return split_at(text, cr, 1);
  if (lf != npos) return split_at(text, lf, 1);
  return {};
}

std::string interface_filter_text(const WebMessage& msg) {
  return msg.user + std::string(kCrLf) + msg.frm + std::string(kCrLf) + msg.message;
}

void apply_interface_answer(WebMessage& msg, std::string_view answer) {
  SplitLine recipient = split_first_line(answer);
  SplitLine sender = split_first_line(recipient.rest);
  msg.user = std::move(recipient.first);
  msg.frm = std::move(sender.first);
  msg.message = std::move(sender.rest);
}

}  // namespace dexweb

#include "tools/web_guard.h"

#include <cstdio>
#include <random>

#include "util/text.h"

namespace dexweb::ctl {
namespace {

// The host[:port] of a URL, or nothing when the text has no scheme.
std::optional<std::string> authority(std::string_view url) {
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return std::nullopt;
  const std::string_view rest = url.substr(scheme_end + 3);
  return text::to_lower(rest.substr(0, rest.find_first_of("/?#")));
}

}  // namespace

PostSource post_source(std::string_view host, const std::optional<std::string>& origin,
                       const std::optional<std::string>& referer) {
  const std::optional<std::string>& named = origin ? origin : referer;
  if (!named) return PostSource::kUnnamed;
  const std::optional<std::string> site = authority(*named);
  return site && !host.empty() && *site == text::to_lower(host) ? PostSource::kThisSite : PostSource::kOtherSite;
}

std::string new_form_token() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    token += part;
  }
  return token;
}

bool token_matches(std::string_view token, std::string_view given) {
  if (token.empty() || given.size() != token.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < token.size(); ++i) differ |= static_cast<unsigned char>(token[i] ^ given[i]);
  return differ == 0;
}

}  // namespace dexweb::ctl

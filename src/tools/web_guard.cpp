#include "tools/web_guard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// Lower case, and without the port when it is 80 or 443, which browsers leave out.
std::string normal(std::string_view authority) {
  std::string out = text::to_lower(authority);
  for (const char* port : {":80", ":443"})
    if (out.ends_with(port)) out.resize(out.size() - std::strlen(port));
  return out;
}

// The host of host[:port]; an IPv6 address keeps its brackets.
std::string_view host_part(std::string_view authority) {
  const auto colon = authority.rfind(':');
  if (colon == std::string_view::npos || authority.find(']', colon) != std::string_view::npos) return authority;
  return authority.substr(0, colon);
}

bool has_port(std::string_view authority) { return host_part(authority).size() != authority.size(); }

}  // namespace

SiteNames::SiteNames(const std::string& listen, const std::vector<std::string>& names) : exact_{normal(listen)} {
  for (const std::string& name : names) (has_port(name) ? exact_ : any_port_).push_back(normal(name));
}

bool SiteNames::allows(std::string_view authority, std::string_view arrived_at) const {
  const std::string given = normal(authority);
  if (given.empty()) return false;
  if (given == normal(arrived_at) || std::find(exact_.begin(), exact_.end(), given) != exact_.end()) return true;
  return std::find(any_port_.begin(), any_port_.end(), host_part(given)) != any_port_.end();
}

PostSource post_source(const SiteNames& names, std::string_view arrived_at, const std::optional<std::string>& origin,
                       const std::optional<std::string>& referer) {
  const std::optional<std::string>& named = origin ? origin : referer;
  if (!named) return PostSource::kUnnamed;
  const std::optional<std::string> site = authority(*named);
  return site && names.allows(*site, arrived_at) ? PostSource::kThisSite : PostSource::kOtherSite;
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

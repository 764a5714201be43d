#pragma once
// The checks that keep other web sites from posting through an operator's browser: any page
// the operator opens can make the browser post a form to this server, which then acts with
// the operator's network position. Browsers name the posting page's site in Origin (or, when
// they leave Origin out, in Referer); the form itself carries a token that only this
// server's pages know.

#include <optional>
#include <string>
#include <string_view>

namespace dexweb::ctl {

// The hidden form field that carries the token.
inline constexpr const char* kFormTokenField = "token";

enum class PostSource {
  kThisSite,   // Origin, or Referer without Origin, names the Host the request was sent to
  kOtherSite,  // it names another host or port, or is not a URL (Origin "null")
  kUnnamed,    // neither header: a script or an old client, not a page of another site
};

// Where a POST came from. host is the request's Host header (empty when absent). The scheme
// is ignored (a TLS proxy may stand in front); host names compare without regard to case.
PostSource post_source(std::string_view host, const std::optional<std::string>& origin,
                       const std::optional<std::string>& referer);

// A fresh random token of 32 hex digits; raises std::exception when the system has no
// source of randomness.
std::string new_form_token();

// Whether given is token, compared in a time that does not tell where they differ.
bool token_matches(std::string_view token, std::string_view given);

}  // namespace dexweb::ctl

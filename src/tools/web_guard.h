#pragma once
// The checks that keep other web sites from posting through an operator's browser: any page
// the operator opens can make the browser post a form to this server, which then acts with
// the operator's network position. Browsers name the posting page's site in Origin (or, when
// they leave Origin out, in Referer); the form itself carries a token that only this
// server's pages know.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexweb::ctl {

// The names a server answers to. A request whose Host is none of them is refused before
// anything else: a page of another site that has its own name resolve to this server (DNS
// rebinding) sends its own name as Host, and would otherwise be served as this site.
class SiteNames {
 public:
  // listen: the address and port the server was started for ("127.0.0.1:8080",
  // "[::1]:8080", "form.local:8080"); names: further names, each matching with any port
  // ("form.example.org") or with the one it gives ("form.example.org:8443"). Ports 80 and
  // 443 may be left out of a Host.
  SiteNames(const std::string& listen, const std::vector<std::string>& names);

  // Whether authority (a Host header, or the host[:port] of an Origin) is one of the names,
  // or arrived_at: the address and port that the connection arrived at.
  bool allows(std::string_view authority, std::string_view arrived_at) const;

 private:
  std::vector<std::string> exact_;    // host:port, or host alone for ports 80 and 443
  std::vector<std::string> any_port_; // hosts
};

enum class PostSource {
  kThisSite,   // Origin, or Referer without Origin, names one of the server's names
  kOtherSite,  // it names another host or port, or is not a URL (Origin "null")
  kUnnamed,    // neither header: a script or an old client, not a page of another site
};

// Where a POST that arrived at arrived_at came from. The scheme is ignored (a TLS proxy may
// stand in front); host names compare without regard to case.
PostSource post_source(const SiteNames& names, std::string_view arrived_at, const std::optional<std::string>& origin,
                       const std::optional<std::string>& referer);

// A fresh random token of 32 hex digits; raises std::exception when the system has no
// source of randomness.
std::string new_form_token();

// Whether given is token, compared in a time that does not tell where they differ.
bool token_matches(std::string_view token, std::string_view given);

}  // namespace dexweb::ctl

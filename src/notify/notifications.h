#pragma once
// Success and failure notices: one mail file in the outgoing mail folder per address of
// the notify list, expanded from the template. (Interface; see notifications.cpp.)

#include <string>

#include "config/gateway_settings.h"

namespace dexweb {

class DBObject;

// What a notification needs from the running module.
struct NotifyContext {
  DBObject& db;
  const GatewaySettings& settings;  // dexmail_enabled, postmaster, domain, MailOutDir
};

void SendNotifications(NotifyContext& ctx, const std::string& message, const std::string& Sender,
                       const std::string& Recipient, bool Failed, const std::string& ErrorMessage);

}  // namespace dexweb

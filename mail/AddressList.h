// Mail address lists as people type them into the settings: "a@x, \"Name\" <b@y>, c@z (Name)".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dv {

struct MailAddress {
  std::string name;     // display name, unquoted; empty when none was given
  std::string address;  // the bare address, as it goes between angle brackets, quotes kept
};

// Splits an RFC 822 address list at the commas that stand outside quotes, comments and angle
// brackets. Each entry is "phrase <address>" or a bare address; a parenthesised comment names a
// bare address when nothing else does. Group syntax ("Team: a@x, b@y;") yields its members. Entries
// with no address (empty ones and "<>") are dropped. Unbalanced quotes, comments or brackets run to
// the end of the text; nothing here throws. Addresses are not judged here: see AddressFault.
std::vector<MailAddress> ParseAddressList(std::string_view text);

// Why `address` cannot go into MAIL FROM:<...> or RCPT TO:<...> ("contains a control character",
// "has an unquoted '<' or '>'", "has an unclosed quote"), or empty when it can.
std::string AddressFault(std::string_view address);

}  // namespace dv

#pragma once
// A web message file and the working record of one, from reading to deletion.
//
// The format: CR LF separated lines; the field lines "user=", "frm=", "subject=" (the
// recipient list) and "msg=" (keys without regard to case). "msg=" is the last field: every
// line after it belongs to the message. Other lines are ignored, and a field given twice
// takes the later line.

#include <string>
#include <string_view>

#include "util/nvp_list.h"

namespace dexweb {

struct WebMessage {
  std::string file_name;      // name in the watched folder, without the folder
  std::string bytes;            // the bytes read (at most the read limit): the raw filter's
                                // hand-off and the bad copy, never the file again
  bool cut = false;             // the file held more than was read
  std::string content;          // the text read; after the raw filter, the filtered text
  std::string original_content; // the text as read: the raw filter's input
  std::string user;             // lower case, trimmed, at most 40 characters
  std::string original_recipient;
  std::string sender;           // frm after the 80-character cut, as given
  std::string frm;              // the sender for the row and the interface filter; its quotes are
                                // not doubled, since the query builder quotes every text itself
  std::string subject;          // the recipient list
  std::string message;          // at most 16000 characters
  std::string bad_copy_path;    // every bad copy of this file goes here: named once it was
                                // read, another free name when that one is taken
  bool refused = false;         // some refusal needs the bad copy
  bool bad_copy_made = false;   // one copy serves every refusal of the file; made before the
                                // record is committed, so that its name is this file's
  std::string error_text;       // the reason of the last refusal
  bool filter_aborted = false;
  int transaction_id = 0;        // one unique id per message, in every row of it
  std::string id_with_rows;      // when the rows' own transaction draws the id: its SQL value
  bool any_accepted = false;     // some recipient got a row
};

// The text without any NUL character.
std::string strip_nulls(std::string_view text);

// Adds one entry per line of content to lines (the line as the name, False as the value).
// Only CR LF ends a line; a final CR LF adds no empty line.
void split_web_lines(std::string_view content, NVPList& lines);

// Sets user (lower case, trimmed), frm, subject (each trimmed) and message from the lines;
// the four are emptied first. The message is the trimmed rest of the "msg=" line and every
// later line, joined by CR LF.
void parse_web_lines(const NVPList& lines, WebMessage& msg);

// The message as notifications show it, with N = keep_chars (the Obfuscate_Msg_Chars
// setting): unchanged when N < 1; otherwise the first N and last N characters with a "."
// for each one between, and empty text when the text holds at most 2N characters.
std::string mask_message(std::string_view text, int keep_chars);

}  // namespace dexweb

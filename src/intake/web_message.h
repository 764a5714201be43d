#pragma once
// The working record of one message file, from reading to deletion.

#include <string>

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

}  // namespace dexweb

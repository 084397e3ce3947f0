// fbconfigfile.h: FBConfigFile, a host configuration file of named sections
// holding text settings.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbconfigfile.cpp).
//
// Names. "@Name.txt" is the file Name.txt in the host's configuration folder
// (fbhost/config.h); any other name is a path used as given. Every
// FBConfigFile of the same name, in one process or several, works on the one
// file: there is no private copy.
//
// Reads and writes. Get reads the file as it is on disk at that moment, so a
// value that one object (one device) sets reaches every other object at its
// next Get. Set reads the file, changes that one setting and writes the whole
// file back safely (fbhost/config.h: a temporary file, flushed, renamed over
// the old one); concurrent Sets, from threads or from other host processes,
// are serialised per file, so none is lost. A crash during a Set leaves the
// old file or the new one, never a truncated one.
//
// The file format: plain text, UTF-8 or any 8-bit text, one item per line,
// "\n" or "\r\n" line ends:
//
//   ; a comment line (also "#"); blank lines are ignored
//   [DataStream]                   a section: its name between brackets
//   HostAddress = "localhost"      a setting of the section above it
//   StreamBones = " 7"             the value is exactly the text in quotes
//   HostPort = 801                 an unquoted value: surrounding blanks dropped
//
// The host writes every value quoted, so a value is kept exactly as it was
// set, leading and trailing blanks included. Inside quotes, \" is a quote,
// \\ a backslash, \n \r \t the control characters, and \xHH (two hex digits)
// any byte; the host writes bytes below 0x20 and 0x7F as \xHH. Section and
// key names are compared exactly (case matters). When a key appears twice in a
// section the last one counts. Comment lines above a setting stay with it when
// the host rewrites the file.
//
// Bad files. A file that cannot be read, is larger than 1 MiB, or has lines
// that are none of the above, never crashes the host:
// - Get answers what it can: the settings of the lines it understood, the
//   default for the rest. The problem is reported once on the host's message
//   channel (fbhost/messages.h), quoting the file and the bad line.
// - Set on a file with bad lines first keeps a copy of it as "<file>.corrupt"
//   (or "<file>.corrupt.1", ... when that exists), then writes a fresh file
//   with every setting it understood plus the new one, and reports both.
// - Set on a file it cannot read (no permission, a folder, too large) writes
//   nothing and answers false, rather than replace what it could not see.
//
// Threads. An FBConfigFile may be used from any thread; its Get and Set are
// safe to call concurrently.
#pragma once

#include <memory>

#include "fbsdk/fbsdk_api.h"

class FBSDK_API FBConfigFile {
 public:
  // name: "@Name" or a path (see above). inMemory: keep the settings in this
  // process only (shared by every in-memory object of the same name; nothing
  // is read from or written to disk). readOnly: Set changes nothing and
  // answers false. A device's settings file is FBConfigFile("@...", false, false).
  // An invalid name (empty, or "@" followed by no plain file name) makes an
  // object whose Get answers the default and whose Set answers false; the
  // problem is reported on the message channel.
  explicit FBConfigFile(const char* name, bool inMemory = false, bool readOnly = false);
  FBConfigFile(const FBConfigFile&) = delete;
  FBConfigFile& operator=(const FBConfigFile&) = delete;
  ~FBConfigFile();

  // The stored text of `key` in `section`; when the key is missing (or the
  // file, or the section), `defaultValue` itself. Null section or key read as
  // missing. The answer is null only when the key is missing and the default
  // is null. A stored text is returned through this object: the pointer stays
  // valid, unchanged, for as long as this object lives, even across later Gets
  // and Sets.
  const char* Get(const char* section, const char* key, const char* defaultValue = nullptr);

  // Stores `value` (null: "") as the text of `key` in `section`, adding the
  // section and key when missing. A comment, when given (not null), is written
  // as "; comment" lines right above the setting, replacing its old comment.
  // Answers true once the file on disk holds the new value (a file that
  // already holds it, with no comment asked for, is not rewritten). Answers
  // false, and changes nothing, when: the object is read-only or its name
  // invalid; the section or key is null, empty, has surrounding blanks or
  // control characters, or is not a valid name (a section may not hold '['
  // or ']'; a key may not hold '=' nor start with '[', ';' or '#'); the file
  // cannot be read or written (reported on the message channel).
  bool Set(const char* section, const char* key, const char* value, const char* comment = nullptr);

  // The file this object works on ("" for an in-memory object or an invalid name).
  const char* GetPath() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

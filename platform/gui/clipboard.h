// The desktop's clipboard: the X11 CLIPBOARD selection, through libX11. Reading asks the
// selection's owner for its targets, then for the first usable one; writing makes the process
// the selection's owner, as every X client does, and a background thread with its own display
// connection answers the other clients' requests (TARGETS, TIMESTAMP, and UTF8_STRING,
// text/uri-list or image types) while it owns it, sending large data in increments. That thread works on copies
// of plain bytes only: nothing of the language's memory ever reaches it.
// Text is UTF-8; file lists are text/uri-list (file:// URIs, percent-encoded) on the wire and
// POSIX paths here. This layer depends on nothing of the runtime.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

enum class ClipboardFormat { kNothing, kText, kFiles, kImage };

struct ClipboardData {
  ClipboardFormat format = ClipboardFormat::kNothing;
  std::string text;                // kText: UTF-8
  std::vector<std::string> paths;  // kFiles: absolute POSIX paths, UTF-8
  // kImage: (MIME type, encoded bytes) pairs, the preferred first. Reading gives the first
  // image/png, image/jpeg, image/gif, image/bmp or image/tiff the owner offers; writing offers
  // each pair (the types must be among those five).
  std::vector<std::pair<std::string, std::string>> images;
};

enum class ClipboardStatus {
  kDone,
  kNoDisplay,  // no X display to talk to: DISPLAY unset, or the server does not answer
  kFailed,     // the owner did not answer in time or refused the data; ownership not taken
};

// What the clipboard holds. A file list wins over text when the owner offers both and every URI
// names a local file; text is asked as UTF8_STRING, else as STRING (Latin-1, made UTF-8); an
// image comes as the bytes of its file format. kNothing when nobody owns the selection or nothing offered
// is usable. On kNoDisplay, why says what is missing.
ClipboardStatus clipboard_read(ClipboardData& data, std::string& why);
// Takes the selection and offers the data until another client takes it (kNothing offers
// nothing: the clipboard reads as empty). On kNoDisplay, why says what is missing.
ClipboardStatus clipboard_write(const ClipboardData& data, std::string& why);

// text/uri-list: one file:// URI per path, each ended by CR LF, every byte other than an
// unreserved character or "/" written as %XX.
std::string uri_list_from_paths(const std::vector<std::string>& paths);
// The paths of a text/uri-list (comment lines and blank lines skipped; LF alone also ends a
// line). False when an entry is not a file URI of this machine (file:///p, file:/p,
// file://localhost/p or file://<this host>/p).
bool paths_from_uri_list(std::string_view list, std::vector<std::string>& paths);

}  // namespace platform

// The CLIPBOARD selection over libX11: the reader on the calling thread, the owner on a thread of
// its own (see clipboard.h).
#include "platform/gui/clipboard.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// How long the other side may take for one step (an answer, one increment) before the transfer
// counts as failed.
constexpr auto kAnswerTime = std::chrono::seconds(2);
// Data above this size goes in increments of kIncrement bytes: one request of any server takes
// up to 65535 four-byte units.
constexpr size_t kIncrementAbove = 192 * 1024;
constexpr size_t kIncrement = 64 * 1024;

// --- Shared by the reader and the owner ----------------------------------------------------------

// The image types in the order a reader prefers them.
constexpr int kImageTypes = 5;
constexpr const char* kImageTypeNames[kImageTypes] = {"image/png", "image/jpeg", "image/gif",
                                                      "image/bmp", "image/tiff"};

struct Atoms {
  Atom clipboard, targets, timestamp, utf8, string, uri_list, incr, transfer, stamp;
  Atom images[kImageTypes];
};

void intern(Display* display, Atoms& atoms) {
  const char* names[] = {"CLIPBOARD", "TARGETS", "TIMESTAMP", "UTF8_STRING", "STRING",
                         "text/uri-list", "INCR", "ZEL_CLIPBOARD", "ZEL_STAMP",
                         kImageTypeNames[0], kImageTypeNames[1], kImageTypeNames[2],
                         kImageTypeNames[3], kImageTypeNames[4]};
  constexpr int count = sizeof(names) / sizeof(names[0]);
  Atom found[count];
  XInternAtoms(display, const_cast<char**>(names), count, False, found);
  atoms = {found[0], found[1], found[2], found[3], found[4], found[5], found[6], found[7],
           found[8], {found[9], found[10], found[11], found[12], found[13]}};
}

// A request that names a window gone meanwhile must not end the process, which is what Xlib's
// own handler does with every protocol error.
int ignore_error(Display*, XErrorEvent*) { return 0; }

// A connection whose server went away must not end the process either: Xlib's handlers say
// nothing, and the connection's own flag (below) tells its user to stop using it.
int quiet_io_error(Display*) { return 0; }
void mark_lost(Display*, void* lost) { static_cast<std::atomic<bool>*>(lost)->store(true); }

// Xlib's threads and the handlers, once per process, before any connection.
void prepare_xlib() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    XSetErrorHandler(ignore_error);
    XSetIOErrorHandler(quiet_io_error);
  });
}

// A connection to the display DISPLAY names, or null with why. lost becomes true when the
// server goes away; the connection is then good only for closing.
Display* open_display(std::string& why, std::atomic<bool>& lost) {
  prepare_xlib();
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    why = "no X display (DISPLAY is not set)";
    return nullptr;
  }
  Display* display = XOpenDisplay(name);
  if (!display) {
    why = std::string("cannot connect to the X display ") + name;
    return nullptr;
  }
  lost = false;
  XSetIOErrorExitHandler(display, mark_lost, &lost);
  return display;
}

Window make_window(Display* display) {
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  return XCreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, InputOnly,
                       CopyFromParent, CWEventMask, &attributes);
}

struct EventMatch {
  Window window;
  int type;
  Atom atom;  // PropertyNotify: the property; SelectionNotify: the selection
  int state;  // PropertyNotify: PropertyNewValue or PropertyDelete
};

Bool matches(Display*, XEvent* event, XPointer arg) {
  const EventMatch& m = *reinterpret_cast<EventMatch*>(arg);
  if (event->type != m.type || event->xany.window != m.window) return False;
  if (m.type == PropertyNotify) {
    return event->xproperty.atom == m.atom && event->xproperty.state == m.state;
  }
  if (m.type == SelectionNotify) return event->xselection.selection == m.atom;
  return True;
}

// Takes the first event that matches from the connection, leaving every other event queued
// for whoever reads them; false when none came within kAnswerTime or the server went away.
bool wait_for(Display* display, EventMatch match, XEvent& event, const std::atomic<bool>& lost) {
  const auto deadline = Clock::now() + kAnswerTime;
  for (;;) {
    if (lost) return false;
    if (XCheckIfEvent(display, &event, matches, reinterpret_cast<XPointer>(&match))) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            Clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, int(left.count()) + 1);
  }
}

// --- The reader ----------------------------------------------------------------------------------

struct Reader {
  Display* display = nullptr;
  std::atomic<bool> lost{false};
  Window window = 0;
  Atoms atoms{};
};

Reader reader;

// Reads the whole property (deleting it), its bytes as Xlib hands them: format 32 items are
// longs. False when the window has no such property.
bool take_property(Display* display, Window window, Atom property, Atom& type, int& format,
                   std::string& bytes) {
  bytes.clear();
  long offset = 0;  // in 32-bit units
  for (;;) {
    constexpr long kUnits = 64 * 1024;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, offset, kUnits, False, AnyPropertyType,
                           &type, &format, &items, &after, &data) != Success) {
      return false;
    }
    if (type == None) {
      if (data) XFree(data);
      return false;
    }
    const size_t unit = format == 32 ? sizeof(long) : size_t(format / 8);
    bytes.append(reinterpret_cast<const char*>(data), items * unit);
    XFree(data);
    if (after == 0) break;
    offset += kUnits;
  }
  XDeleteProperty(display, window, property);
  return true;
}

enum class Answer { kData, kRefused, kSilent };

// Asks the owner for the selection as the target: the bytes and their type, increments
// gathered. kSilent when the owner stops answering.
Answer convert(Atom target, std::string& bytes, Atom& type) {
  Display* d = reader.display;
  const Atoms& a = reader.atoms;
  XEvent event;
  while (XPending(d)) XNextEvent(d, &event);  // what earlier transfers left queued
  XDeleteProperty(d, reader.window, a.transfer);
  XConvertSelection(d, a.clipboard, target, a.transfer, reader.window, CurrentTime);
  XFlush(d);
  if (!wait_for(d, {reader.window, SelectionNotify, a.clipboard, 0}, event, reader.lost)) {
    return Answer::kSilent;
  }
  if (event.xselection.property == None) return Answer::kRefused;
  int format = 0;
  if (!take_property(d, reader.window, a.transfer, type, format, bytes)) return Answer::kRefused;
  if (type != a.incr) return Answer::kData;
  // Deleting the INCR property asked for the first increment; an empty one ends the data.
  XFlush(d);
  bytes.clear();
  for (;;) {
    if (!wait_for(d, {reader.window, PropertyNotify, a.transfer, PropertyNewValue}, event,
                  reader.lost)) {
      return Answer::kSilent;
    }
    std::string piece;
    if (!take_property(d, reader.window, a.transfer, type, format, piece)) {
      if (reader.lost) return Answer::kSilent;
      continue;
    }
    XFlush(d);
    if (piece.empty()) return Answer::kData;
    bytes += piece;
  }
}

std::vector<Atom> atoms_of(const std::string& bytes) {
  std::vector<Atom> atoms(bytes.size() / sizeof(long));
  for (size_t i = 0; i < atoms.size(); i++) {
    long item;
    std::memcpy(&item, bytes.data() + i * sizeof(long), sizeof(long));
    atoms[i] = Atom(item);
  }
  return atoms;
}

std::string latin1_to_utf8(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// What the present owner offers, read once.
ClipboardStatus read_from_owner(ClipboardData& data) {
  const Atoms& a = reader.atoms;
  std::string bytes;
  Atom type = None;
  std::vector<Atom> targets;
  bool guessed = false;  // an owner that cannot list its targets may still give text
  switch (convert(a.targets, bytes, type)) {
    case Answer::kData: targets = atoms_of(bytes); break;
    case Answer::kRefused: targets = {a.utf8}; guessed = true; break;
    case Answer::kSilent: return ClipboardStatus::kFailed;
  }
  auto offers = [&](Atom target) {
    return std::find(targets.begin(), targets.end(), target) != targets.end();
  };
  if (offers(a.uri_list)) {
    if (convert(a.uri_list, bytes, type) != Answer::kData) return ClipboardStatus::kFailed;
    if (paths_from_uri_list(bytes, data.paths)) {
      data.format = ClipboardFormat::kFiles;
      return ClipboardStatus::kDone;
    }
    data.paths.clear();
  }
  for (Atom target : {a.utf8, a.string}) {
    if (!offers(target)) continue;
    const Answer answer = convert(target, bytes, type);
    if (answer == Answer::kRefused && guessed) break;
    if (answer != Answer::kData) return ClipboardStatus::kFailed;
    data.format = ClipboardFormat::kText;
    data.text = target == a.string ? latin1_to_utf8(bytes) : std::move(bytes);
    return ClipboardStatus::kDone;
  }
  for (int i = 0; i < kImageTypes; i++) {
    if (!offers(a.images[i])) continue;
    if (convert(a.images[i], bytes, type) != Answer::kData) return ClipboardStatus::kFailed;
    data.format = ClipboardFormat::kImage;
    data.images.emplace_back(kImageTypeNames[i], std::move(bytes));
    return ClipboardStatus::kDone;
  }
  return ClipboardStatus::kDone;
}

// --- The owner -----------------------------------------------------------------------------------

// A reply too large for one property, sent piece by piece as the requestor deletes each.
// Data we offer under one target; transfers in progress share its bytes.
struct Offer {
  Atom target;
  std::shared_ptr<const std::string> bytes;
};

struct Transfer {
  Window requestor;
  Atom property;
  Atom type;
  std::shared_ptr<const std::string> bytes;
  size_t sent;
};

class Owner {
 public:
  // Starts the thread on a connection of its own, or fails with why. Once the server has gone
  // and the thread has ended, starts again the same way.
  bool start(std::string& why) {
    display_ = open_display(why, lost_);
    if (!display_) return false;
    intern(display_, atoms_);
    window_ = make_window(display_);
    XFlush(display_);
    if (wake_[0] < 0 && pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    {
      std::lock_guard lock(mutex_);
      gone_ = false;
      answered_ = asked_;  // what the ended thread left unanswered has been answered false
    }
    std::thread([this] { run(); }).detach();
    return true;
  }

  // The server has gone and the thread has ended.
  bool gone() {
    std::lock_guard lock(mutex_);
    return gone_;
  }

  // Hands the data to the thread, which takes the selection; true when it owns it.
  bool offer(const ClipboardData& data) {
    std::unique_lock lock(mutex_);
    pending_ = data;
    const uint64_t id = ++asked_;
    const char byte = 1;
    if (write(wake_[1], &byte, 1) < 0) return false;
    if (!answer_.wait_for(lock, kAnswerTime * 2, [&] { return answered_ == id || gone_; })) {
      return false;
    }
    return owned_ && !gone_;
  }

 private:
  void run() {
    for (;;) {
      if (lost_) {
        XCloseDisplay(display_);
        display_ = nullptr;
        offers_.clear();
        owning_ = false;
        transfers_.clear();
        std::lock_guard lock(mutex_);
        gone_ = true;
        answer_.notify_all();
        return;
      }
      while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        handle(event);
      }
      ClipboardData data;
      uint64_t asked = 0;
      {
        std::lock_guard lock(mutex_);
        if (asked_ != answered_) {
          data = std::move(pending_);
          asked = asked_;
        }
      }
      if (asked) {
        const bool owned = take(data);
        if (lost_) continue;  // answered as gone, above
        std::lock_guard lock(mutex_);
        owned_ = owned;
        answered_ = asked;
        answer_.notify_all();
        continue;  // taking may have queued events
      }
      pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
      poll(fds, 2, -1);
      if (fds[1].revents & POLLIN) {
        char drain[64];
        while (read(wake_[0], drain, sizeof drain) > 0) {
        }
      }
    }
  }

  // Takes the selection with a server timestamp (ICCCM asks for one, not CurrentTime), which
  // a zero-length append to our own window's property yields.
  bool take(const ClipboardData& data) {
    XChangeProperty(display_, window_, atoms_.stamp, atoms_.stamp, 8, PropModeAppend, nullptr, 0);
    XFlush(display_);
    XEvent event;
    Time time = CurrentTime;
    if (wait_for(display_, {window_, PropertyNotify, atoms_.stamp, PropertyNewValue}, event,
                 lost_)) {
      time = event.xproperty.time;
    }
    offers_.clear();
    switch (data.format) {
      case ClipboardFormat::kText:
        offers_.push_back({atoms_.utf8, std::make_shared<const std::string>(data.text)});
        break;
      case ClipboardFormat::kFiles:
        offers_.push_back(
            {atoms_.uri_list, std::make_shared<const std::string>(uri_list_from_paths(data.paths))});
        break;
      case ClipboardFormat::kImage:
        for (const auto& [type, bytes] : data.images) {
          for (int i = 0; i < kImageTypes; i++) {
            if (type == kImageTypeNames[i]) {
              offers_.push_back({atoms_.images[i], std::make_shared<const std::string>(bytes)});
            }
          }
        }
        break;
      default:
        break;
    }
    XSetSelectionOwner(display_, atoms_.clipboard, window_, time);
    owning_ = XGetSelectionOwner(display_, atoms_.clipboard) == window_;
    acquired_ = time;
    return owning_;
  }

  // The offer under a target, null when nothing is offered under it.
  const Offer* offer_of(Atom target) const {
    if (!owning_) return nullptr;
    for (const Offer& offer : offers_) {
      if (offer.target == target) return &offer;
    }
    return nullptr;
  }

  void handle(XEvent& event) {
    switch (event.type) {
      case SelectionRequest:
        answer(event.xselectionrequest);
        break;
      case SelectionClear:
        // A clear from an earlier ownership may arrive after the selection was taken again.
        if (XGetSelectionOwner(display_, atoms_.clipboard) != window_) {
          owning_ = false;
          offers_.clear();
        }
        break;
      case PropertyNotify:
        if (event.xproperty.state == PropertyDelete) send_next(event.xproperty);
        break;
      default:
        break;
    }
  }

  void answer(const XSelectionRequestEvent& request) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = display_;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.property = None;
    reply.time = request.time;
    // Clients older than ICCCM 2 name no property: the target stands for it.
    const Atom property = request.property == None ? request.target : request.property;
    const bool ours = owning_ && request.selection == atoms_.clipboard &&
                      (request.time == CurrentTime || request.time >= acquired_);
    const Offer* offer = ours ? offer_of(request.target) : nullptr;
    if (ours && request.target == atoms_.targets) {
      std::vector<long> list = {long(atoms_.targets), long(atoms_.timestamp)};
      for (const Offer& o : offers_) list.push_back(long(o.target));
      XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(list.data()), int(list.size()));
      reply.property = property;
    } else if (ours && request.target == atoms_.timestamp) {
      long time = long(acquired_);
      XChangeProperty(display_, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&time), 1);
      reply.property = property;
    } else if (offer) {
      send(request.requestor, property, *offer);
      reply.property = property;
    }
    XSendEvent(display_, request.requestor, False, NoEventMask,
               reinterpret_cast<XEvent*>(&reply));
    XFlush(display_);
  }

  void send(Window requestor, Atom property, const Offer& offer) {
    const Atom type = offer.target;
    const size_t size = offer.bytes->size();
    if (size <= kIncrementAbove) {
      XChangeProperty(display_, requestor, property, type, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(offer.bytes->data()), int(size));
      return;
    }
    // The requestor deleting the INCR property asks for the first piece.
    XSelectInput(display_, requestor, PropertyChangeMask);
    long total = long(size);
    XChangeProperty(display_, requestor, property, atoms_.incr, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&total), 1);
    transfers_.push_back({requestor, property, type, offer.bytes, 0});
  }

  void send_next(const XPropertyEvent& deleted) {
    auto found = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
      return t.requestor == deleted.window && t.property == deleted.atom;
    });
    if (found == transfers_.end()) return;
    Transfer& t = *found;
    const size_t piece = std::min(kIncrement, t.bytes->size() - t.sent);
    XChangeProperty(display_, t.requestor, t.property, t.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(t.bytes->data() + t.sent), int(piece));
    t.sent += piece;
    if (piece == 0) {  // the empty piece that ends the data has gone
      const Window requestor = t.requestor;
      transfers_.erase(found);
      const bool more = std::any_of(transfers_.begin(), transfers_.end(),
                                    [&](const Transfer& o) { return o.requestor == requestor; });
      if (!more) XSelectInput(display_, requestor, NoEventMask);
    }
    XFlush(display_);
  }

  Display* display_ = nullptr;
  std::atomic<bool> lost_{false};
  Window window_ = 0;
  Atoms atoms_{};
  int wake_[2] = {-1, -1};

  // Shared with the calling thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable answer_;
  ClipboardData pending_;
  uint64_t asked_ = 0;     // the number of the latest request
  uint64_t answered_ = 0;  // the number of the latest one the thread has acted on
  bool owned_ = false;
  bool gone_ = false;

  // The thread's own.
  std::vector<Offer> offers_;  // what the clipboard holds while we own it, one per target
  bool owning_ = false;
  Time acquired_ = CurrentTime;
  std::vector<Transfer> transfers_;
};

// Made on the first write and never destroyed, as its thread may run until the process ends
// (or the server does), owning the selection meanwhile.
Owner& owner = *new Owner();
bool owner_started = false;

// --- URIs ----------------------------------------------------------------------------------------

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); i++) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// The path of one file URI, percent-decoded; false when it is no local file URI.
bool path_of_uri(std::string_view uri, std::string& path) {
  if (!starts_with_nocase(uri, "file:")) return false;
  std::string_view rest = uri.substr(5);
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return false;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost" && host != host_name()) return false;
    rest.remove_prefix(slash);
  }
  if (!rest.starts_with("/")) return false;
  path.clear();
  for (size_t i = 0; i < rest.size(); i++) {
    if (rest[i] == '%' && i + 2 < rest.size() && hex_value(rest[i + 1]) >= 0 &&
        hex_value(rest[i + 2]) >= 0) {
      path += char(hex_value(rest[i + 1]) * 16 + hex_value(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return true;
}

}  // namespace

std::string uri_list_from_paths(const std::vector<std::string>& paths) {
  static const char digits[] = "0123456789ABCDEF";
  std::string list;
  for (const std::string& path : paths) {
    list += "file://";
    for (unsigned char c : path) {
      if (unreserved(c)) {
        list += char(c);
      } else {
        list += '%';
        list += digits[c >> 4];
        list += digits[c & 15];
      }
    }
    list += "\r\n";
  }
  return list;
}

bool paths_from_uri_list(std::string_view list, std::vector<std::string>& paths) {
  paths.clear();
  while (!list.empty()) {
    const size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::string path;
    if (!path_of_uri(line, path)) return false;
    paths.push_back(std::move(path));
  }
  return true;
}

ClipboardStatus clipboard_read(ClipboardData& data, std::string& why) {
  data = {};
  if (reader.display && reader.lost) {  // its server went away
    XCloseDisplay(reader.display);
    reader.display = nullptr;
  }
  if (!reader.display) {
    reader.display = open_display(why, reader.lost);
    if (!reader.display) return ClipboardStatus::kNoDisplay;
    intern(reader.display, reader.atoms);
    reader.window = make_window(reader.display);
  }
  // The targets and the data must come from one owner: when another client took the selection
  // meanwhile, the read starts again.
  ClipboardStatus status = ClipboardStatus::kFailed;
  for (int attempt = 0; attempt < 3; attempt++) {
    const Window holder = XGetSelectionOwner(reader.display, reader.atoms.clipboard);
    if (reader.lost) break;
    if (holder == None) return ClipboardStatus::kDone;
    data = {};
    status = read_from_owner(data);
    if (reader.lost) break;
    if (XGetSelectionOwner(reader.display, reader.atoms.clipboard) == holder) return status;
  }
  if (reader.lost) return clipboard_read(data, why);  // is there another server now?
  return status;
}

ClipboardStatus clipboard_write(const ClipboardData& data, std::string& why) {
  for (int attempt = 0; attempt < 2; attempt++) {
    if (!owner_started || owner.gone()) {
      owner_started = owner.start(why);
      if (!owner_started) return ClipboardStatus::kNoDisplay;
    }
    if (owner.offer(data)) return ClipboardStatus::kDone;
    if (!owner.gone()) break;
  }
  return ClipboardStatus::kFailed;
}

}  // namespace platform

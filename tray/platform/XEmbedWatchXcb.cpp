// The XEmbed tray on X11: a tray manager owns the selection _NET_SYSTEM_TRAY_Sn of its screen and
// announces itself with a MANAGER client message to the root window; when it goes, its window is
// destroyed. Both arrive among the events Qt reads from the display, so a native event filter hears
// them without a connection or a poll of its own.
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tray/TrayHostWatch.h"

namespace dv {

namespace {

xcb_atom_t InternAtom(xcb_connection_t* connection, const std::string& name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()),
      nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

// The screen number of DISPLAY (":1.0" is screen 0 of display 1); 0 when it names none.
int ScreenNumber() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) return 0;
  const char* colon = std::strrchr(display, ':');
  const char* dot = colon != nullptr ? std::strchr(colon, '.') : nullptr;
  return dot != nullptr ? std::atoi(dot + 1) : 0;
}

class XEmbedWatch : public TrayHostWatch, public QAbstractNativeEventFilter {
 public:
  XEmbedWatch(xcb_connection_t* connection, xcb_window_t root, int screen)
      : connection_(connection),
        root_(root),
        selection_(InternAtom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screen))),
        manager_(InternAtom(connection, "MANAGER")) {
    // The MANAGER message is sent to the root window with the structure-notify mask.
    AddStructureNotify(root_);
    owner_ = CurrentOwner();
    if (owner_ != XCB_WINDOW_NONE) AddStructureNotify(owner_);
    QCoreApplication::instance()->installNativeEventFilter(this);
  }

  XEmbedWatch(const XEmbedWatch&) = delete;
  XEmbedWatch& operator=(const XEmbedWatch&) = delete;

  ~XEmbedWatch() override {
    *alive_ = false;
    if (QCoreApplication::instance() != nullptr) {
      QCoreApplication::instance()->removeNativeEventFilter(this);
    }
  }

  bool StatusNotifierHost() const override { return false; }
  bool XEmbedTray() const override { return owner_ != XCB_WINDOW_NONE; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    if (eventType != "xcb_generic_event_t" || message == nullptr) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7F) {
      case XCB_CLIENT_MESSAGE: {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->type == manager_ && client->format == 32 &&
            client->data.data32[1] == selection_) {
          RecheckLater();
        }
        break;
      }
      case XCB_DESTROY_NOTIFY: {
        const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (owner_ != XCB_WINDOW_NONE && destroyed->window == owner_) RecheckLater();
        break;
      }
      default:
        break;
    }
    return false;  // Qt's own tray code wants the same events
  }

 private:
  xcb_window_t CurrentOwner() const {
    if (selection_ == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, selection_), nullptr);
    if (reply == nullptr) return XCB_WINDOW_NONE;
    const xcb_window_t owner = reply->owner;
    std::free(reply);
    return owner;
  }

  // Adds to what this client already selects on the window rather than replacing it: Qt selects
  // events on the root window through the same connection.
  void AddStructureNotify(xcb_window_t window) const {
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr);
    if (attributes == nullptr) return;  // already gone
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    std::free(attributes);
    xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }

  // Answered after the event has been handled, so that whoever hears of the change may create
  // windows and tray icons freely.
  void RecheckLater() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, alive = alive_] {
          if (*alive) Recheck();
        },
        Qt::QueuedConnection);
  }

  void Recheck() {
    const xcb_window_t owner = CurrentOwner();
    if (owner == owner_) return;
    const bool wasThere = owner_ != XCB_WINDOW_NONE;
    owner_ = owner;
    if (owner_ != XCB_WINDOW_NONE) AddStructureNotify(owner_);
    if (wasThere != (owner_ != XCB_WINDOW_NONE) && onChanged) onChanged();
  }

  xcb_connection_t* connection_;
  xcb_window_t root_;
  xcb_atom_t selection_;
  xcb_atom_t manager_;
  xcb_window_t owner_ = XCB_WINDOW_NONE;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<TrayHostWatch> CreateXEmbedWatch() {
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return nullptr;
  xcb_connection_t* connection = x11->connection();
  const int screen = ScreenNumber();
  xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int skip = 0; skip < screen && roots.rem > 0; ++skip) xcb_screen_next(&roots);
  if (roots.rem <= 0) return nullptr;
  return std::make_unique<XEmbedWatch>(connection, roots.data->root, screen);
}

}  // namespace dv

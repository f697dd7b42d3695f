import QtQuick
import "../components"
import "../theme"

// The service's announcements (built out separately).
Item {
    id: page
    property var toast: null
    property var overlay: null
    property bool hasUnread: false
}

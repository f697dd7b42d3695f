import QtQuick
import "../components"
import "../theme"

// Dedicated servers (built out separately).
Item {
    id: page
    property var toast: null
    property bool showingConnection: false
    property bool connectingToServer: false
}

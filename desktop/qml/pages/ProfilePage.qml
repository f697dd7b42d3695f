import QtQuick
import "../components"
import "../theme"

// Picture, user name and password (built out separately).
Item {
    id: page
    property var toast: null
}

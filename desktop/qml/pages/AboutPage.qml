import QtQuick
import "../components"
import "../theme"

// Brand, version and links (built out separately).
Item {
    id: page
    property var toast: null
}

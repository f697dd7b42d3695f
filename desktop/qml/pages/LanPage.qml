import QtQuick
import "../components"
import "../theme"

// Rooms: join, create, browse, and the live connection (built out separately).
Item {
    id: page
    property var toast: null
    property bool disconnectConfirmBusy: false
    property alias joinCardItem: joinCard
    property alias publicTableItem: publicTable
    signal disconnectRequested()

    GlassCard {
        id: joinCard
        x: Theme.spacingLarge
        y: Theme.titleBarHeight + 8
        width: parent.width - 2 * Theme.spacingLarge
        height: 160
    }
    GlassCard {
        id: publicTable
        x: Theme.spacingLarge
        y: joinCard.y + joinCard.height + Theme.spacing
        width: parent.width - 2 * Theme.spacingLarge
        height: parent.height - y - Theme.spacingLarge
    }
}

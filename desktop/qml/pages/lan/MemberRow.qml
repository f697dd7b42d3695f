import QtQuick
import "../../components"
import "../../theme"

// One member of the open room; the room's owner wears the owner's pill.
UserListItem {
    required property var modelData
    required property int index
    property var toast: null
    objectName: "member" + index
    width: ListView.view.width
    height: 52
    username: modelData.username
    assignedIp: modelData.assignedIp
    isAdmin: modelData.isAdmin
    isOwner: api.connectedVlanOwner !== "" && api.connectedVlanOwner === modelData.username
    onIpCopied: ip => { if (toast) toast.success(Lang.isPersian ? "کپی شد" : "Copied " + ip) }
}

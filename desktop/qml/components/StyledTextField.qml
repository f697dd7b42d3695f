import QtQuick
import QtQuick.Controls.Basic
import "../theme"

// Themed single-line text field.
TextField {
    id: field
    implicitWidth: 280
    implicitHeight: 44
    padding: 14
    font.family: Lang.bodyFont
    font.pixelSize: Theme.fontSizeBody
    color: Theme.textPrimary
    placeholderTextColor: Theme.textDimmed
    selectionColor: Theme.primaryPurple
    selectedTextColor: Theme.textWhite
    horizontalAlignment: Lang.isPersian && !LayoutMirroring.enabled ? TextInput.AlignRight : TextInput.AlignLeft
    // The placeholder follows the field, also where a field opts out of mirroring.
    LayoutMirroring.childrenInherit: true
    // Centred, and the padding above and below gives way in a field made
    // lower than its text needs, so the text always shows whole.
    verticalAlignment: TextInput.AlignVCenter
    topPadding: Math.max(0, Math.min(padding, (height - 1.6 * font.pixelSize) / 2))
    bottomPadding: topPadding
    selectByMouse: true

    background: Rectangle {
        radius: Theme.borderRadiusSmall
        color: Theme.glassBg
        border.width: field.activeFocus ? 1.5 : 1
        border.color: field.activeFocus ? Qt.rgba(Theme.primaryPurple.r, Theme.primaryPurple.g, Theme.primaryPurple.b, 0.5)
                                        : Theme.glassBorder
    }
}

pragma Singleton
import QtQuick

// Design tokens shared by every page and component. Sizes are pixels.
QtObject {
    // Brand and state colours
    readonly property color primaryPurple: "#3e01fc"
    readonly property color accentLime: "#c1fd05"
    readonly property color errorColor: "#e04040"

    // Translucent surfaces over the dark window background
    readonly property color glassBg: Qt.rgba(1, 1, 1, 0.05)
    readonly property color glassBorder: Qt.rgba(1, 1, 1, 0.08)
    readonly property color glassElevated: Qt.rgba(1, 1, 1, 0.07)
    readonly property color glassHover: Qt.rgba(1, 1, 1, 0.09)
    readonly property color sidebarBorder: Qt.rgba(1, 1, 1, 0.05)
    readonly property color sidebarHover: Qt.rgba(1, 1, 1, 0.06)

    // Pop-ups and avatars
    readonly property color toastBg: "#1e1e24"
    readonly property color tooltipBg: "#1a1a1a"
    readonly property color tooltipBorder: "#222222"
    readonly property color avatarBg: Qt.rgba(primaryPurple.r, primaryPurple.g, primaryPurple.b, 0.20)
    readonly property color avatarBorder: Qt.rgba(primaryPurple.r, primaryPurple.g, primaryPurple.b, 0.30)

    // Text
    readonly property color textPrimary: "#eeeeee"
    readonly property color textSecondary: "#999999"
    readonly property color textDimmed: "#555555"
    readonly property color textWhite: "#ffffff"

    // Geometry
    readonly property int windowRadius: 16
    readonly property int titleBarHeight: 38
    readonly property int sidebarWidth: 56
    readonly property int borderRadius: 16
    readonly property int borderRadiusSmall: 12
    readonly property int spacing: 16
    readonly property int spacingSmall: 8
    readonly property int spacingLarge: 24

    // Type
    // One family, not a list: Qt 6 takes a family text whole, so "Consolas, monospace" would
    // match nothing and fall back to a proportional font. Where Consolas is missing,
    // fontconfig maps it to the system's monospace family.
    readonly property string monoFont: "Consolas"
    readonly property int fontSizeTitle: 26
    readonly property int fontSizeHeading: 18
    readonly property int fontSizeBody: 13
    readonly property int fontSizeSmall: 11
    readonly property int fontSizeCaption: 10
}

import QtQuick
import "../components"
import "../theme"

// First start: pick English or Persian. No language is chosen yet, so every text is shown in both.
Item {
    id: page
    signal languageSelected(string lang)

    Column {
        anchors.centerIn: parent
        spacing: 18

        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 72
            height: 72
            sourceSize: Qt.size(144, 144)
            source: "qrc:/icons/logo.svg"
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Choose your language"
            textFormat: Text.PlainText
            color: Theme.textWhite
            font.family: Lang.latinFont
            font.pixelSize: Theme.fontSizeTitle
            font.bold: true
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "زبان خود را انتخاب کنید"
            textFormat: Text.PlainText
            color: Theme.textSecondary
            font.family: Lang.persianFont
            font.pixelSize: Theme.fontSizeHeading
        }
        Item { width: 1; height: 12 }
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 20
            LanguageCard {
                objectName: "englishCard"
                flag: "qrc:/icons/flag-gb.svg"
                primary: "English"
                secondary: "انگلیسی"
                secondaryFamily: Lang.persianFont
                onPicked: page.languageSelected("en")
            }
            LanguageCard {
                objectName: "persianCard"
                flag: "qrc:/icons/flag-ir.svg"
                primary: "فارسی"
                primaryFamily: Lang.persianFont
                secondary: "Persian"
                onPicked: page.languageSelected("fa")
            }
        }
    }

    component LanguageCard: Rectangle {
        id: card
        property url flag
        property string primary
        property string secondary
        property string primaryFamily: Lang.latinFont
        property string secondaryFamily: Lang.latinFont
        signal picked()
        width: 200
        height: 190
        radius: Theme.borderRadius
        color: area.containsMouse ? Theme.glassHover : Theme.glassBg
        border.width: area.containsMouse ? 1.5 : 1
        border.color: area.containsMouse ? Theme.accentLime : Theme.glassBorder
        scale: area.pressed ? 0.98 : 1
        Behavior on scale { NumberAnimation { duration: 100 } }

        Column {
            anchors.centerIn: parent
            spacing: 12
            Image {
                anchors.horizontalCenter: parent.horizontalCenter
                width: 84
                height: 63
                sourceSize: Qt.size(168, 126)
                fillMode: Image.PreserveAspectFit
                source: card.flag
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: card.primary
                textFormat: Text.PlainText
                color: Theme.textWhite
                font.family: card.primaryFamily
                font.pixelSize: 18
                font.bold: true
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: card.secondary
                textFormat: Text.PlainText
                color: Theme.textSecondary
                font.family: card.secondaryFamily
                font.pixelSize: Theme.fontSizeBody
            }
        }
        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: card.picked()
        }
    }
}

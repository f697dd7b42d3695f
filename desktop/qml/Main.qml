import QtQuick
import QtQuick.Controls

// The program's root window. The pages, overlays and sign-in flow grow into it.
ApplicationWindow {
    id: root
    width: 1280
    height: 720
    minimumWidth: 720
    minimumHeight: 480
    visible: true
    title: "Corvana"

    background: Rectangle {
        gradient: Gradient {
            GradientStop { position: 0.0; color: "#191920" }
            GradientStop { position: 1.0; color: "#121218" }
        }
    }

    Column {
        anchors.centerIn: parent
        spacing: 16

        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Corvana"
            color: "#ffffff"
            font.pixelSize: 28
        }

        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "v" + Qt.application.version
            color: "#80ffffff"
            font.pixelSize: 14
        }
    }
}

import QtQuick

// Ten bars turning once per 900 ms: the busy mark of buttons and views.
Item {
    id: spinner
    property color color: "#ffffff"
    property bool running: visible
    implicitWidth: 20
    implicitHeight: 20

    Item {
        id: wheel
        anchors.fill: parent
        Repeater {
            model: 10
            Rectangle {
                required property int index
                width: Math.max(2, spinner.width * 0.1)
                height: spinner.height * 0.28
                radius: width / 2
                color: spinner.color
                opacity: 0.2 + 0.8 * (index / 9)
                x: (spinner.width - width) / 2
                y: 0
                transform: Rotation {
                    origin.x: width / 2
                    origin.y: spinner.height / 2
                    angle: index * 36
                }
            }
        }
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: spinner.running
        }
    }
}

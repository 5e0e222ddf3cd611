import QtQuick

// A page of the stack sliding sideways, from fromX to toX, in 200 ms at an even
// pace; the stack hands it the page to move.
Transition {
    id: transition

    property real fromX: 0
    property real toX: 0

    XAnimator {
        from: transition.fromX
        to: transition.toX
        duration: 200
        easing.type: Easing.Linear
    }
}

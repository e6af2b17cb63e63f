// Shotcut's entry for the frei0r edition: it lists only filters it has such
// an entry for. The keyframes work on MLT's values, frei0r's 0..1.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: "Vemra Temperature"
    keywords: 'color colour temperature warm cool tint magenta green white balance vemra'
    objectName: 'vemra_temperature'
    mlt_service: "frei0r.vemra_temperature"
    qml: "ui.qml"

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['Temperature', 'Magenta', 'Opacity']
        parameters: [
            Parameter {
                name: 'Temperature'
                property: 'Temperature'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Magenta'
                property: 'Magenta'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Opacity'
                property: 'Opacity'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}

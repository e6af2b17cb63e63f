// Shotcut's panel for the frei0r edition. MLT holds every value as frei0r's
// 0..1; the panel shows the effect's own units: Temperature and Magenta from
// -5 to 5 (0 neutral), Opacity in percent. A slider's value v is stored as
// (v - minimum) / (maximum - minimum), the mapping the plug-in reverses.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Shotcut.KeyframableFilter {
    id: root

    property string temperatureParameter: 'Temperature'
    property string magentaParameter: 'Magenta'
    property string opacityParameter: 'Opacity'
    property string clampParameter: 'Clamp on output'
    // The plug-in's defaults, as frei0r values: no shift, full opacity, no clamp.
    property var defaults: [0.5, 0.5, 1]

    function sliders() {
        return [temperatureSlider, magentaSlider, opacitySlider];
    }

    function buttons() {
        return [temperatureKeyframes, magentaKeyframes, opacityKeyframes];
    }

    function stored(slider) {
        return (slider.value - slider.minimumValue) / (slider.maximumValue - slider.minimumValue);
    }

    function shown(slider, x) {
        return slider.minimumValue + x * (slider.maximumValue - slider.minimumValue);
    }

    function setControls() {
        var position = getPosition();
        blockUpdate = true;
        for (var i = 0; i < keyframableParameters.length; i++) {
            var parameter = keyframableParameters[i];
            sliders()[i].value = shown(sliders()[i], filter.getDouble(parameter, position));
            buttons()[i].checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(parameter) > 0;
        }
        clampCheckBox.checked = filter.getDouble(clampParameter) >= 0.5;
        blockUpdate = false;
        var active = isSimpleKeyframesActive();
        for (var j = 0; j < sliders().length; j++)
            sliders()[j].enabled = active;
    }

    function changed(index, position) {
        updateFilter(keyframableParameters[index], stored(sliders()[index]), buttons()[index], position);
    }

    function updateSimpleKeyframes() {
        for (var i = 0; i < keyframableParameters.length; i++)
            changed(i, null);
    }

    keyframableParameters: [temperatureParameter, magentaParameter, opacityParameter]
    startValues: [0.5, 0.5, 1]
    middleValues: [0.5, 0.5, 1]
    endValues: [0.5, 0.5, 1]
    width: 350
    height: 160
    Component.onCompleted: {
        if (filter.isNew) {
            for (var i = 0; i < keyframableParameters.length; i++)
                filter.set(keyframableParameters[i], defaults[i]);
            filter.set(clampParameter, 0);
            filter.savePreset(preset.parameters);
        }
        setControls();
    }

    GridLayout {
        anchors.fill: parent
        anchors.margins: 8
        columns: 4

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.Preset {
            id: preset

            parameters: [temperatureParameter, magentaParameter, opacityParameter, clampParameter]
            Layout.columnSpan: 3
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Label {
            text: qsTr('Temperature')
            Layout.alignment: Qt.AlignRight

            Shotcut.HoverTip {
                text: qsTr('Warmer above 0, cooler below (-5 to 5)')
            }
        }

        Shotcut.SliderSpinner {
            id: temperatureSlider

            minimumValue: -5
            maximumValue: 5
            stepSize: 0.01
            decimals: 2
            onValueChanged: changed(0, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: temperatureSlider.value = shown(temperatureSlider, defaults[0])
        }

        Shotcut.KeyframesButton {
            id: temperatureKeyframes

            onToggled: toggleKeyframes(checked, temperatureParameter, stored(temperatureSlider))
        }

        Label {
            text: qsTr('Magenta')
            Layout.alignment: Qt.AlignRight

            Shotcut.HoverTip {
                text: qsTr('Towards magenta above 0, towards green below (-5 to 5)')
            }
        }

        Shotcut.SliderSpinner {
            id: magentaSlider

            minimumValue: -5
            maximumValue: 5
            stepSize: 0.01
            decimals: 2
            onValueChanged: changed(1, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: magentaSlider.value = shown(magentaSlider, defaults[1])
        }

        Shotcut.KeyframesButton {
            id: magentaKeyframes

            onToggled: toggleKeyframes(checked, magentaParameter, stored(magentaSlider))
        }

        Label {
            text: qsTr('Opacity')
            Layout.alignment: Qt.AlignRight

            Shotcut.HoverTip {
                text: qsTr('Share of the shifted frame; 0 leaves the frame as it is')
            }
        }

        Shotcut.SliderSpinner {
            id: opacitySlider

            minimumValue: 0
            maximumValue: 100
            stepSize: 0.1
            decimals: 1
            suffix: ' %'
            onValueChanged: changed(2, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: opacitySlider.value = shown(opacitySlider, defaults[2])
        }

        Shotcut.KeyframesButton {
            id: opacityKeyframes

            onToggled: toggleKeyframes(checked, opacityParameter, stored(opacitySlider))
        }

        Label {
        }

        CheckBox {
            id: clampCheckBox

            Layout.columnSpan: 3
            text: qsTr('Clamp on output')
            onClicked: filter.set(clampParameter, checked ? 1 : 0)
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged(name) {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setControls();
        }

        target: producer
    }
}

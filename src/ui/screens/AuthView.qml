import QtQuick
import Echoquill.Ui
import Echoquill.Shared

// Shown while nobody is signed in: Google sign-in and, below it, the e-mail
// code flow. A successful sign-in fills the session store's user and the
// window swaps this screen for the main application.
Rectangle {
    id: auth
    objectName: "AuthView"

    gradient: Gradient {
        GradientStop { position: 0.0; color: EQPalette.creamDeep }
        GradientStop { position: 1.0; color: EQPalette.cream }
    }

    EchoquillRipple {
        anchors.horizontalCenter: parent.horizontalCenter
        y: content.y + brand.y + glyph.y + glyph.height / 2 - height / 2
        size: 420
        color: EQPalette.withOpacity(EQPalette.terracotta, 0.18)
    }

    Column {
        id: content
        anchors.centerIn: parent
        spacing: 22

        Column {
            id: brand
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 10

            EchoquillGlyph {
                id: glyph
                anchors.horizontalCenter: parent.horizontalCenter
                size: 48
                glow: true
                color: EQPalette.terracotta
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "echoquill"
                color: EQPalette.ink
                EQTextStyle.role: "displayS"
            }
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Your data stays yours."
            color: EQPalette.inkSecondary
            EQTextStyle.role: "body"
        }

        Rectangle {
            id: card
            width: 380
            height: form.implicitHeight + 56
            radius: 22
            color: EQPalette.withOpacity(EQPalette.white, 0.72)
            border.width: 1
            border.color: EQPalette.hairline

            Column {
                id: form
                x: 28
                y: 28
                width: parent.width - 56
                spacing: 18

                PillButton {
                    width: parent.width
                    label: "Sign in with Google"
                    icon: "g.circle.fill"
                    variant: "dark"
                    isLoading: AuthStore.isLoading
                    onActivated: AuthStore.signInWithGoogle()
                }

                Row {
                    width: parent.width
                    spacing: 10
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: (parent.width - orText.width - 20) / 2
                        height: 1
                        color: EQPalette.hairline
                    }
                    Text {
                        id: orText
                        text: "or use email"
                        color: EQPalette.inkMuted
                        EQTextStyle.role: "bodySm"
                    }
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: (parent.width - orText.width - 20) / 2
                        height: 1
                        color: EQPalette.hairline
                    }
                }

                OTPFlowView {
                    width: parent.width
                }
            }
        }
    }
}

import QtQuick
import Echoquill.Ui
import Echoquill.Shared

// The e-mail code flow in two steps: the address, then the six-digit code.
// The state and every rule live in OTPFlow; this file only lays it out.
Column {
    id: view
    objectName: "OTPFlowView"
    spacing: 12

    OTPFlow {
        id: flow
        authStore: AuthStore
    }

    Loader {
        width: parent.width
        sourceComponent: flow.step === "codeEntry" ? codeEntry : enterEmail
    }

    Text {
        width: parent.width
        visible: flow.errorText.length > 0
        text: flow.errorText
        textFormat: Text.PlainText
        color: EQPalette.alert
        wrapMode: Text.Wrap
        EQTextStyle.role: "bodySm"
    }

    // The two steps read `flow` from this document: the Loader makes them in a context of its
    // own, which Qt 6.4 refuses for components bound to their document, so the linter does
    // not see that `flow` reaches them.
    // qmllint disable unqualified
    Component {
        id: enterEmail
        Column {
            objectName: "enterEmail"
            spacing: 12

            EQTextField {
                objectName: "emailField"
                width: parent.width
                placeholder: "you@company.com"
                text: flow.email
                onEdited: (text) => flow.email = text
                onSubmitted: if (!flow.isSending) flow.sendCode()
            }
            PillButton {
                width: parent.width
                label: "Send code"
                variant: "dark"
                isLoading: flow.isSending
                onActivated: flow.sendCode()
            }
            TextLink {
                anchors.horizontalCenter: parent.horizontalCenter
                text: flow.accountLinkText
                onActivated: flow.toggleAccountLink()
            }
        }
    }

    Component {
        id: codeEntry
        Column {
            objectName: "codeEntry"
            spacing: 12

            Text {
                width: parent.width
                text: flow.codePrompt
                textFormat: Text.PlainText
                color: EQPalette.inkSecondary
                wrapMode: Text.Wrap
                EQTextStyle.role: "bodySm"
            }
            EQTextField {
                objectName: "codeField"
                width: parent.width
                placeholder: "000000"
                text: flow.code
                onEdited: (text) => flow.code = text
                onSubmitted: if (!AuthStore.isLoading) flow.verify()
                Component.onCompleted: input.forceActiveFocus()
            }
            PillButton {
                width: parent.width
                label: "Verify code"
                variant: "dark"
                isLoading: AuthStore.isLoading
                onActivated: flow.verify()
            }
            TextLink {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Change email"
                onActivated: flow.changeEmail()
            }
        }
    }
    // qmllint enable unqualified
}

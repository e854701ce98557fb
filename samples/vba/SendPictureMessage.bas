Attribute VB_Name = "SendPictureMessage"
' For Office hosts (Excel, Word, Access): import this module, then run
' SendPictureMessage from the Macros dialog. Late bound, so no reference to
' the type library is needed; add one to "Qel Message Object" for early
' binding (Dim renderer As QelMessage.Renderer).
Option Explicit

Public Sub SendPictureMessage()
    Dim renderer As Object
    Set renderer = CreateObject("QelMessage.Renderer")

    renderer.MailServer = "smtp.example.com"          ' or "host:port"
    renderer.MailAddress = "gateway@example.com"      ' the gateway mailbox
    renderer.ReplyAddress = "dispatch@example.com"
    renderer.ReplyName = "Qel Dispatch"
    renderer.Account = "acct-001"
    renderer.Password = "s3cret"
    renderer.Message = "Meeting moved to 3 pm"
    renderer.Campaign = "Spring sale"                 ' optional, at most 50 characters
    renderer.PictureFile = "C:\Pictures\harbour.jpg"  ' optional, must end in .jpg

    renderer.AddRecipient "5550101", "Ann"
    renderer.AddRecipient "5550102", "Ben"

    If Not renderer.GetINetStatus() Then
        MsgBox "This machine does not report itself on line.", vbExclamation
    End If

    If renderer.Send() = 0 Then
        MsgBox "Sent.", vbInformation
    Else
        MsgBox "Not sent: " & renderer.ErrorText, vbExclamation
    End If
End Sub

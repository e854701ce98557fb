' Shared by the host tests: run-vbs.sh puts this before each script, since
' VBScript has no include of its own.
Option Explicit
Dim failures : failures = 0

Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

' Ends the script, with "PASS <name>" as its last line only when every check held.
Sub Finish(name)
    If failures = 0 Then
        WScript.Echo "PASS " & name
        WScript.Quit 0
    End If
    WScript.Quit 1
End Sub


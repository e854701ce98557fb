' GetINetStatus as a script host sees it: a Boolean, True on this machine,
' from a connection object that no host can create for itself.
Dim r : Set r = CreateObject("QelMessage.Renderer")
Dim first : first = r.GetINetStatus()
Check TypeName(first) = "Boolean", "TypeName of GetINetStatus is " & TypeName(first)
Check first = True, "GetINetStatus on this machine is " & first
Dim second : second = r.GetINetStatus()
Check TypeName(second) = "Boolean", "TypeName of a second GetINetStatus is " & TypeName(second)
Check second = first, "a second GetINetStatus answers " & second
Check r.ErrorText = "", "GetINetStatus wrote ErrorText: " & r.ErrorText

Dim connection
On Error Resume Next
Set connection = CreateObject("QelMessage.CWinInetConnection")
Check Err.Number <> 0, "the private connection class can be created by a host"
Err.Clear
On Error GoTo 0

Finish "online_status"

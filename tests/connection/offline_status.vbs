' GetINetStatus on a machine without a network: False, as a Boolean, and no error.
Dim r : Set r = CreateObject("QelMessage.Renderer")
Dim status
On Error Resume Next
status = r.GetINetStatus()
Check Err.Number = 0, "GetINetStatus raised " & Err.Number & " from " & Err.Source & ": " & Err.Description
On Error GoTo 0
Check TypeName(status) = "Boolean", "TypeName of GetINetStatus is " & TypeName(status)
Check status = False, "GetINetStatus without a network is " & status
Finish "offline_status"

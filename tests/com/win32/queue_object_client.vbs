' A late-bound client of Dovel.clsMsgQueue, the way a script or a VB client
' uses it. Prints "N passed, N failed" at the end; the test is judged by that
' line, since a script host may swallow errors and still exit with 0.
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(ok, what)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAILED: " & what & " (error " & Err.Number & ")"
  End If
End Sub

Function IsIdentifier(text)
  Dim pattern
  Set pattern = New RegExp
  pattern.Pattern = "^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$"
  IsIdentifier = pattern.Test(text)
End Function

On Error Resume Next

Dim queue
Set queue = CreateObject("Dovel.clsMsgQueue")
Check Err.Number = 0 And IsObject(queue), "CreateObject(""Dovel.clsMsgQueue"")"

' The three identifiers: well formed, distinct, the same at every read.
Dim work, current, lastSent
work = queue.WorkQueueGUID
current = queue.CurrentMsgGUID
lastSent = queue.LastSentMsgGUID
Check Err.Number = 0, "reading the identifiers"
Check IsIdentifier(work) And IsIdentifier(current) And IsIdentifier(lastSent), "identifier form"
Check work <> current And current <> lastSent And work <> lastSent, "three distinct identifiers"
Check queue.WorkQueueGUID = work, "WorkQueueGUID stays the same"

' The switches take script Booleans and numbers; they cannot be read.
Err.Clear
queue.Disconnecting = False
queue.Unattended = True
queue.Unattended = 0
queue.PanelEventWarning = False
queue.InactivityTimeout = 30
queue.InactivityComplete
Check Err.Number = 0, "switches and InactivityComplete"
Dim readBack
readBack = queue.Disconnecting
Check Err.Number <> 0, "a switch has no get"
Err.Clear

' Timers are the engine's own, live.
Dim worker, heartbeat
Set worker = queue.WorkerTimer
Check Err.Number = 0 And worker.Enabled, "the worker timer runs"
Check worker.Interval > 0, "the worker timer has the poll rate"
Set heartbeat = queue.HeartbeatTimer
Check heartbeat.Interval = 0 And Not heartbeat.Enabled, "the heartbeat timer starts disarmed"
heartbeat.Interval = 60000
heartbeat.Enabled = True
Check queue.HeartbeatTimer.Interval = 60000, "Interval through a new timer object"
Check queue.HeartbeatTimer.Enabled, "Enabled through a new timer object"
heartbeat.Enabled = False
Check Not queue.HeartbeatTimer.Enabled, "disarmed again"
Check Err.Number = 0, "timer members"

' UnloadQueue stops the engine; a second one changes nothing.
queue.UnloadQueue
Check Err.Number = 0, "UnloadQueue"
Check Not worker.Enabled, "the worker stops with the engine"
queue.UnloadQueue
Check Err.Number = 0, "a second UnloadQueue"
Check queue.WorkQueueGUID = work, "identifiers outlive the unload"

' A second object has an engine and identifiers of its own.
Dim other
Set other = CreateObject("Dovel.clsMsgQueue")
Check other.WorkQueueGUID <> work And other.CurrentMsgGUID <> current, "a second object, other lists"
other.UnloadQueue
Set other = Nothing
Set queue = Nothing
Check Err.Number = 0, "releasing"

WScript.Echo passed & " passed, " & failed & " failed"

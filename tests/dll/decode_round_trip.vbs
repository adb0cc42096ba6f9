' Recorder -> G.723.1 encoder -> G.723.1 decoder (the encoder's sink) -> a data target:
'   cscript //nologo decode_round_trip.vbs INPUT wav OUTPUT.wav | INPUT player
Option Explicit
Dim reg, rec, enc, dec, target
Set reg = CreateObject("KvAudioComponents.Registry")
Set rec = CreateObject("KvAudioComponents.Recorder")
reg.Add "KvCom.KvAudio.KvAudioRecorder", rec
Set enc = CreateObject("KvAudioEncoder.KV_AudioG7231")
Set dec = CreateObject("KvAudioDecoder.G7231")
If WScript.Arguments(1) = "player" Then
    Set target = CreateObject("KvAudioComponents.Player")
    target.Open                                   ' the default output device, at 16000 Hz as the decoder gives
Else
    Set target = CreateObject("KvAudioComponents.WavFileTarget")
    target.Open WScript.Arguments(2)
End If
dec.AddTarget target
enc.AddSink dec
rec.CaptureFile WScript.Arguments(0), 960         ' at its end the encoder is flushed into the decoder
dec.Flush
enc.RemoveSink dec
dec.RemoveTarget target
target.Close                                      ' the player plays out what it holds first
reg.Remove "KvCom.KvAudio.KvAudioRecorder"

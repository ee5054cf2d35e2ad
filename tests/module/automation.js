// The automation classes from a scripting client: created by ProgID,
// properties read and written, methods called, error numbers checked.
// Exits with the number of failed checks.
var failures = 0;

function check(condition, message) {
    if (!condition) {
        WScript.Echo("FAIL: " + message);
        failures++;
    }
}

// The error number a call raises, as 8 hexadecimal digits ("0" when none).
function errorOf(call) {
    try {
        call();
    } catch (e) {
        var number = e.number < 0 ? e.number + 0x100000000 : e.number;
        return number.toString(16).toUpperCase();
    }
    return "0";
}

var connection = new ActiveXObject("Norvask.Tervolin.SerialConnection");
var interpreter = new ActiveXObject("Norvask.Tervolin.SerialInterpreter");

check(connection.Timeout == 5000, "default Timeout is " + connection.Timeout);
connection.Timeout = 2500;
check(connection.Timeout == 2500, "Timeout after put is " + connection.Timeout);
connection.Timeout = "1200";
check(connection.Timeout == 1200, "Timeout from digits is " + connection.Timeout);
check(errorOf(function () { connection.Timeout = "abc"; }) == "80020005", "Timeout from letters");

check(connection.Port === "", "default Port is '" + connection.Port + "'");
connection.Port = "COM42";
connection.Port = "com42";
check(connection.Port == "COM42", "Port keeps its letter case: " + connection.Port);
check(typeof connection.AssumedPort == "string", "AssumedPort is a string");

check(errorOf(function () { interpreter.Initialize(connection); }) == "0", "Initialize with a connection");
check(errorOf(function () { connection.Connect(); }) == "0", "Connect to a missing port");
check(errorOf(function () { connection.Port = "COM1"; }) == "A765026C", "Port put while connected");
connection.Disconnect();
connection.Disconnect();
connection.Port = "COM1";
check(connection.Port == "COM1", "Port after Disconnect is " + connection.Port);

check(errorOf(function () { interpreter.Initialize(interpreter); }) == "80020005",
      "Initialize with an object that is no connection");
check(errorOf(function () { interpreter.Terminate(); }) == "0", "Terminate");

WScript.Echo(failures + " failure(s)");
WScript.Quit(failures);

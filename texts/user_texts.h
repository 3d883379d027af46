// Every text the user reads, in one place: the captions and texts of the
// message boxes, the progress window's lines and status texts, and the lines
// the pages format for devices and ports. The Windows program, the command
// line and the tests all take them from here, so each text exists once and
// what the terminal shows is what the Windows program shows.
//
// Texts are 8-bit; line breaks are written as the box or window that shows
// them expects ("\r\n" in message boxes and edit controls, "\n" in the
// progress window, which splits its text at line feeds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace texts {

// --- start-up --------------------------------------------------------------
inline constexpr char FatalCaption[] = "Fatal internal error";
inline constexpr char ImageUnusableText[] = "Unable to prepare Update Data!";
// The heading of every progress window; also the sheet's caption, string 1
// of the program's resources (resources/kelmora_flasher.rc).
inline constexpr char ProgramName[] = "Kelmora Flasher";

// --- MIDI start and sending ------------------------------------------------
inline constexpr char ConfigurationErrorCaption[] = "MIDI Configuration Error";
inline constexpr char NoInputsText[] = "No MIDI Inputs are found!";
inline constexpr char NoOutputsText[] = "No MIDI Outputs are found!";
inline constexpr char InitializingText[] = "Initializing MIDI";
inline constexpr char TransferErrorCaption[] = "Fatal Transfer-Error";
inline constexpr char TransferErrorFormat[] = "MIDI-Error %d during midiOutLongMsg";  // the code

// --- scan ----------------------------------------------------------------------
inline constexpr char NoOutputCaption[] = "No Output selected";
inline constexpr char NoInputCaption[] = "No Input selected";
inline constexpr char SelectPortsText[] =
    "Please activate at least one Output and one Input on the Ports-Page!";
inline constexpr char ScanningText[] = "Scanning MIDI Devices, please wait!";
inline constexpr char AmbiguousCaption[] = "Ambiguous Port Assignment";
inline constexpr char AmbiguousText[] =
    "Some MIDI Outputs control more than one Device. These Ports are ignored.\r\n"
    "Please ensure to connect only one Device per MIDI Port during Flashing.\r\n"
    "If you have a MIDI-Interface that supports an Omni-Port, and you find\r\n"
    "the Device to flash, you can safely ignore this message!";

// --- boot-loader check -----------------------------------------------------
inline constexpr char CheckingStateText[] = "Checking Device State...";
inline constexpr char WrongStateCaption[] = "Warning: Wrong State";
inline constexpr char WrongStateText[] =
    "Device not in Bootloader Mode!\r\n"
    "Please power cycle the unit holding START and FX-BYPASS pressed\r\n"
    "and then restart this application!";

// --- upload --------------------------------------------------------------------
inline constexpr char FlashingText[] =
    "Flashing in Progress\nDo not turn off Power or Cancel this\nApplication during the Upload!";
// Status texts beginning with "!" are shown highlighted, without the "!".
inline constexpr char RetryStatus[] = "!Retry...";
inline constexpr char ErrorStatus[] = "!Error";
inline constexpr char ResyncStatus[] = "!Resync";
inline constexpr char SendFailureCaption[] = "Fatal Error";
inline constexpr char SendFailureText[] = "Unable to send SysEx packet!";
inline constexpr char SilenceCaption[] = "No Answer from Device";
// The seconds of silence.
inline constexpr char SilenceFormat[] =
    "The Device has not answered for %u seconds.\r\n"
    "Please check the MIDI connections and that the Device is powered.\r\n"
    "Press Retry to keep trying, or Cancel to stop the Upload.";

// The Device answered every attempt with an error for a long time (the
// seconds, the attempts).
inline constexpr char RefusalCaption[] = "Device reports Transfer Errors";
inline constexpr char RefusalFormat[] =
    "The Device has rejected what it received for %u seconds, %u times in a row.\r\n"
    "The MIDI interface or cable most likely corrupts SysEx messages:\r\n"
    "please connect the Device through another interface or cable.\r\n"
    "The Device is in its boot loader and has no working firmware until an Upload completes.\r\n"
    "Press Retry to keep trying, or Cancel to stop the Upload.";
// The MIDI interface went away during the upload (the port's name).
inline constexpr char ConnectionLostCaption[] = "MIDI Connection Lost";
inline constexpr char ConnectionLostFormat[] =
    "The MIDI port \"%s\" went away during the Upload:\r\n"
    "the MIDI interface was unplugged or has stopped working.\r\n"
    "The Device stays in its boot loader without working firmware.\r\n"
    "Please reconnect the interface, scan for the Device and flash it again.";

// --- images the upload could not send to their end (inspect, start-up) ------
// How the command line and the page name the image the program carries, and
// why an image that passed the checks is still not in use.
inline constexpr char EmbeddedImageName[] = "the embedded firmware image";
inline constexpr char ImageNotLoadedReason[] = "it cannot be loaded";
inline constexpr char NoHeaderPacketReason[] =
    "no header packet in the track (the upload opens with it)";
// The event's offset in the track, its length, the packet buffer's size.
inline constexpr char PacketTooLongFormat[] =
    "SysEx event at track byte %u is %zu bytes long, more than the upload's packet buffer of "
    "%zu bytes";
// The event's offset, "header" or "data", the payload's length, the buffer's size.
inline constexpr char PayloadTooLongFormat[] =
    "SysEx event at track byte %u is a %s packet with a payload of %zu bytes, more than the "
    "upload's payload buffer of %zu bytes";
// The event's offset in the track, what is wrong with it.
inline constexpr char InvalidEventFormat[] = "event at track byte %u: %s";

// --- flash workflow (printf formats: the image's version, the device's) ----
inline constexpr char NotNewerCaption[] = "Not a newer Firmware!";
inline constexpr char NotNewerFormat[] =
    "The Version of the Firmware (V%s) specified is not newer\r\n"
    "than the one already inside your Device (V%s)\r\n"
    "It is not recommended to write this Firmware into your Device!\r\n"
    "Are you sure you want to write this Version into your Device?\r\n";
inline constexpr char ReadyCaption[] = "Ready to begin!";
inline constexpr char ReadyFormat[] =
    "We are ready to upload Firmware V%s to your Device.\r\n"
    "Please follow the messages on your Device and ensure\r\n"
    "not to abort the Upload or power down your Device\r\n"
    "Otherwise you will need to repeat the update.\r\n"
    "Are you certain to start the Upload now?";
inline constexpr char CompleteCaption[] = "Upload Complete";
inline constexpr char CompleteFormat[] =
    "The Firmware V%s was successfully Uploaded\nto your Device. You can now safely power\n"
    "off and on.";
inline constexpr char UploadErrorCaption[] = "Upload Error";
inline constexpr char UploadErrorText[] =
    "Something went wrong during the Upload\nPlease verify all Connections and try again\n"
    "If your Device does not respond any longer\nplease contact your local Reseller for "
    "Assistance!";

// --- the development image -------------------------------------------------
// A build or a file that carries the repository's development image (test
// data shaped like a release, image::IsDevelopmentImage) says so wherever the
// firmware version is shown, and asks before it goes to an instrument on
// real MIDI ports.
inline constexpr char DevelopmentMark[] = " (development image)";
inline constexpr std::size_t VersionLabelSize = 48;  // 19 characters and the mark
// "1.91", or "1.91 (development image)"; cut to the buffer, always terminated.
void FormatVersionLabel(std::string_view version, bool development,
                        std::span<char, VersionLabelSize> label);
inline constexpr char DevelopmentCaption[] = "Development Firmware Image!";
// The image's version. Lines short enough for a message box not to break them.
inline constexpr char DevelopmentFormat[] =
    "This program carries the DEVELOPMENT image\r\n"
    "V%s: test data, not a firmware release.\r\n"
    "Written into a real Tarvonic it leaves the\r\n"
    "instrument in its boot loader without working\r\n"
    "firmware. Use it only with a virtual instrument\r\n"
    "or a test unit.\r\n"
    "Are you sure you want to write it into this Device?";
// The command line's refusal, in one line: the image's version.
inline constexpr char DevelopmentRefusedFormat[] =
    "refusing to write the development image V%s (test data, not firmware) into an "
    "instrument on real MIDI ports; nothing was sent. Add --allow-development-image to "
    "write it into a test unit anyway.";

// --- command line: what a virtual instrument wrote -------------------------
inline constexpr char VirtualFirmwareWrongText[] =
    "the upload reported success, but the virtual Tarvonic's firmware is not the image's";
inline constexpr char EmulatedFirmwareWrongText[] =
    "the emulated Tarvonic's firmware is not the image's plain firmware";

// --- command line: interrupts -------------------------------------------------
// At a question before the upload.
inline constexpr char InterruptedBeforeUploadText[] =
    "interrupted before the upload: nothing was written into the Device.";
// During an upload: the first, and the second.
inline constexpr char InterruptWarningText[] =
    "interrupted. Stopping the upload now leaves the Device in its boot loader\n"
    "without working firmware, and the update must then be repeated.\n"
    "The upload goes on; press Ctrl-C again to stop it anyway.";
inline constexpr char UploadStoppedText[] =
    "the upload was stopped. The Device is in its boot loader and has no\n"
    "working firmware. Run the flash again to put the firmware in; if the Device\n"
    "was switched off, first start it in its boot loader (power it on holding\n"
    "START and FX-BYPASS).";

// --- the web page: what a browser adds -------------------------------------
inline constexpr char NoWebMidiText[] =
    "This browser has no Web MIDI, so the page cannot reach your Tarvonic from it. "
    "Open the page in Chrome or Edge (Windows, macOS, Linux, ChromeOS) or in Firefox, "
    "which asks you to add a site permission for MIDI; Safari has no Web MIDI. "
    "Without MIDI you can still try every step with the virtual Tarvonic.";
// The browser's own reason.
inline constexpr char MidiRefusedFormat[] =
    "The browser did not allow MIDI with SysEx for this page (%s). Allow MIDI devices "
    "for this site in the browser's site settings (the icon left of the address), "
    "or in Firefox accept the site permission it offers, then press Connect MIDI again.";
inline constexpr char MidiFailedFormat[] =
    "The browser could not start its MIDI system (%s). Check that the MIDI interface "
    "is connected and that no other program holds it, then press Connect MIDI again.";
inline constexpr char SourceMidiText[] = "MIDI ports of this computer";
inline constexpr char SourceVirtualText[] = "Virtual Tarvonic: nothing leaves this computer";
// The image's version label (FormatVersionLabel).
inline constexpr char FirmwareLabelFormat[] = "Firmware V%s";
// The progress window's times, "m:ss": elapsed, then the estimate of what is left.
inline constexpr char ElapsedFormat[] = "%s elapsed";
inline constexpr char TimeLeftFormat[] = ", about %s left";
inline constexpr char LeaveWarningText[] =
    "An upload is running: leaving the page stops it and leaves the Device in its "
    "boot loader without working firmware.";
inline constexpr char TranscriptUnwritableText[] = "The transcript cannot be written in this browser.";
// The file's name, the reason.
inline constexpr char ImageFileUnusableFormat[] = "%s cannot be flashed: %s";
// The file's name, its version label.
inline constexpr char ImageFileInUseFormat[] =
    "Testing with the image file %s (V%s), not the firmware this page carries.";
// The command line's --faults syntax was not kept: the reason.
inline constexpr char FaultSettingsFormat[] = "Fault settings: %s";
// Bytes written; whether they are the image's plain firmware.
inline constexpr char VirtualFirmwareFormat[] = "The virtual Tarvonic wrote %zu bytes of firmware: %s.";
inline constexpr char VirtualFirmwareWhole[] = "the image's plain firmware, whole";
inline constexpr char VirtualFirmwareWrong[] = "NOT the image's plain firmware";

// --- Ports page ------------------------------------------------------------------
inline constexpr char DisableAllCaption[] = "Disable all MIDI Ports";
inline constexpr char DisableAllText[] =
    "If you disable all ports you have to activate the proper IN and OUT port manually!\r\n"
    "Are you sure to disable all ports?";
inline constexpr char NoPortText[] = "Nope";

// What a port item shows: "In03[0041 0102]: name" for input 3, "Out00[...]"
// for output 0; the name is the driver's, at most 31 characters.
struct PortFacts {
  bool input = false;
  std::uint32_t index = 0;  // the driver's device index
  std::uint16_t mid = 0;
  std::uint16_t pid = 0;
  std::string_view name;
};
// Cut to the buffer, terminated whenever it holds a byte; "Nope" without a
// port.
void FormatPortItem(const PortFacts* port, std::span<char> text);

// --- Flash page ------------------------------------------------------------------
inline constexpr char NoDevicesLine[] = "Press Scan to search for Devices";
inline constexpr std::size_t DeviceLineSize = 100;
inline constexpr std::size_t DeviceDetailsSize = 1000;
// Interfaces of this maker and product (wMid << 16 | wPid) carry MIDI over
// USB, where the boot loader's flow control is not reliable.
inline constexpr std::uint32_t UsbInterfaceMidPid = 0x01310001;
inline constexpr char UsbNote[] = "\r\nFlashing over USB not supported!";

// What the device line and the details show of a detected instrument.
struct DeviceFacts {
  std::string_view model;  // the model's name
  std::uint8_t modelId = 0;
  std::string_view version;
  std::string_view input;  // port names as the driver gives them
  std::string_view output;
  int channel = 0;  // 0-based; shown as channel + 1
  std::uint32_t inputMidPid = 0;
};

// "Tarvonic[41] V1.90 at <input> Ch 1": the input's name is cut to 19
// characters, so that a long driver name cannot push the rest out of view.
void FormatDeviceLine(const DeviceFacts& device, std::span<char, DeviceLineSize> line);

// "Device <model> V<version>\r\nMIDI-Input: <input>\r\nMIDI-Output: <output>
// \r\nUpdate to Version <image version>", port names cut to 29 characters,
// and the USB note when the input is on a USB interface (only the input
// decides: the instrument's replies travel on it).
void FormatDeviceDetails(const DeviceFacts& device, std::string_view imageVersion,
                         std::span<char, DeviceDetailsSize> details);

}  // namespace texts

// The program's limits in one place, each with the reason for its value. A limit is either
// part of how the program behaves for scripts (the log's 500 lines, the terminal pane's 300)
// or a guard that keeps a hostile or runaway input from exhausting the stack or memory.
//
// Constants only; no threading or error policy of its own: each user reports crossing a
// limit in its own way (a fatal run error, a refused write, a clipped buffer).
#pragma once

#include <cstddef>

namespace nv::limits {

// The log pane is cleared before a line is added once it holds more than this many lines.
// Scripts and users rely on that rhythm; it also keeps a run of days from filling memory.
inline constexpr int kLogLines = 500;

// The largest status a script may ask the program to end with (setexitcode). Shells give
// 126 and 127 their own meanings and 128+N means "ended by signal N"; the runner's own
// statuses (1, 2, 64) stay below. Scripts are told to use 3 to 63 for their verdicts.
inline constexpr int kScriptExitCodeMax = 125;

// Bytes of the log norvane-run keeps for its JUnit report (the newest; the report says how
// much was left out). CI reporters show a report's output whole and choke on hundreds of
// megabytes, while a failing bench's story fits many times over.
inline constexpr std::size_t kReportLogBytes = std::size_t(8) << 20;

// A serial terminal window's pane is cleared the same way past this many lines.
inline constexpr int kTerminalLines = 300;

// Deepest nesting of script lines (procedure calls inside blocks inside procedures) before
// the run ends with "Stack overflow": every level costs a few native stack frames, and 3000
// levels stay well inside the 8 MiB main-thread stack, even under the sanitizers.
inline constexpr int kLineDepth = 3000;

// Deepest parenthesis nesting a condition is reduced through (recursive); a condition nested
// deeper than any person writes is refused instead of exhausting the stack.
inline constexpr int kConditionDepth = 200;

// Deepest nesting of components in a rack file or its text form (the reader recurses).
// Real front panels nest a handful of levels.
inline constexpr int kComponentDepth = 200;

// Bytes a serial port keeps in its receive buffer between two reads by the script; older
// bytes are dropped first. Enough for any reply a script reads at once.
inline constexpr std::size_t kSerialReceiveBuffer = 8192;

// How long a full serial receive buffer waits for the script to take bytes out before it
// takes the newest bytes again, dropping the oldest. Until then the surplus stays in the
// kernel's queue, whose own flow control holds the sender, so a script that keeps up with a
// flood loses nothing; a script that consumes does so within milliseconds, while one that
// has left the buffer alone this long is not reading the stream and gets its newest bytes.
// Short enough that a UART's kernel queue (tens of kilobytes) does not overrun meanwhile.
inline constexpr int kSerialReceiveStallMs = 250;

// Bytes each TCP receive buffer keeps (newest kept). Far beyond any reply a script splices
// into an expression (every read copies the whole buffer into the line being evaluated), yet
// two flooded buffers cost nothing noticeable.
inline constexpr std::size_t kTcpReceiveBuffer = std::size_t(16) << 20;

// The TCP client takes received data in pieces of this size, each kept up to its first zero
// byte: scripts written for this tool rely on that cut.
inline constexpr std::size_t kTcpClientChunk = 128;

// Bytes a serial port's output queue may hold before a send is refused. 1 MiB is about 90 s
// of transmission at 115200 baud and 18 minutes at 9600: no script that talks to a live
// instrument gets that far ahead of its line, while a peer that has stopped reading costs at
// most this (plus one send) instead of memory without end. The check comes before the bytes
// are added, so a single large send is still taken whole.
inline constexpr std::size_t kSerialOutputQueue = std::size_t(1) << 20;

// Bytes a TCP connection's output queue may hold before a write is refused. Linux already
// holds up to a few megabytes per connection in the kernel before anything waits here, so
// the queue fills only once the peer has stopped reading for a good while; 1 MiB on top of
// that keeps every burst a script sends to a live peer.
inline constexpr std::size_t kTcpOutputQueue = std::size_t(1) << 20;

// How long closing a port or connection waits for its queued bytes to go out (events keep
// being processed; Stop ends the wait at once). At 9600 baud (about 1 ms a byte) a last
// reply of up to two thousand bytes still leaves and a peer that only pauses catches up; a
// peer that has stopped reading holds the script, or the end of the run, no longer.
inline constexpr int kCloseDrainMs = 2000;

// How often a port that reconnects looks for its device again after losing it. A USB adapter
// re-enumerates within a second or two of its device's reset; two looks a second find it
// back promptly, and an open attempt on a missing path costs next to nothing.
inline constexpr int kSerialReconnectMs = 500;

// The largest font height in pixels a layout file may give the terminal pane: far above any
// readable size, and far below the integer overflow a hostile value would cause.
inline constexpr int kMaxFontPixels = 1000;

// Controls one rack file may create. Real front panels hold tens to a few hundred; each
// control is a widget costing kilobytes, so a hostile file naming millions is refused before
// it is built instead of exhausting memory.
inline constexpr int kRackControls = 10000;

// Largest magnitude a rack control's or the rack window's position or size may have: the
// range of the window system's 16-bit coordinates. Larger values only come from a damaged
// or hostile file and would overflow the geometry arithmetic of the toolkit.
inline constexpr int kRackCoordinate = 32767;

// Largest picture (width times height) a rack image may hold, whether embedded in the rack
// file or loaded from a file: 64 megapixels is a 256 MiB image, beyond any panel picture and
// far below what a forged image header would make the decoder allocate.
inline constexpr long long kRackPicturePixels = 64LL * 1000 * 1000;

// Largest rack file read: a few of the largest pictures (64 megapixels at 4 bytes a pixel)
// and ten thousand controls fit; a larger file is not a panel, and reading it whole would
// only exhaust memory.
inline constexpr long long kRackFileBytes = 1LL << 30;

// Bytes a memo control keeps when a script sets its text (older bytes are dropped), as
// scripts that log into a memo rely on.
inline constexpr std::size_t kMemoText = 65000;

// Largest width or height in pixels the rack window or any control is given on the screen.
// Rack files may store sizes up to kRackCoordinate and keep them (saverack writes back what
// was read), but a window or widget of 32767 x 32767 costs gigabytes of backing store and
// tens of seconds to paint; 8192 is beyond any real screen, so nothing a user can see is
// lost by drawing no more than this.
inline constexpr int kRackDrawnPixels = 8192;

// Pixels all pictures of one rack may hold together (each picture still within
// kRackPicturePixels). Forty large pictures in one small compressed file would otherwise
// decode into gigabytes; 128 megapixels (512 MiB of decoded pixels) is far beyond any front
// panel, and opening a rack past it fails at once instead of exhausting memory.
inline constexpr long long kRackPictureBudget = 128LL * 1000 * 1000;

// Bytes a control's caption or text may hold, whether read from a rack file, set by a script
// or pasted in the designer (the memo keeps its own rule, kMemoText). Captions and readings
// are short; a megabyte is far beyond any of them, while a 60 MB caption would freeze text
// layout for minutes and cost gigabytes.
inline constexpr std::size_t kRackText = std::size_t(1) << 20;

// Memory the rack designer's undo history may hold; the oldest steps are dropped first once
// it is passed. Each step costs about what it changes, so this keeps hundreds of steps even
// on a rack of thousands of controls.
inline constexpr std::size_t kDesignerUndoBytes = std::size_t(64) << 20;

// Answers the device simulator holds for one TCP client that is not reading them. Past this
// the simulator stops reading that client's requests until the queue drains below half, so
// the client's own sends block (TCP back-pressure) instead of the simulator's memory growing.
inline constexpr std::size_t kSimClientQueue = std::size_t(1) << 20;

// Deepest nesting (parentheses, unary signs) of a value in a simulator device file. Device
// files nest a few levels; the evaluator recurses, so a hostile file nested thousands deep
// is refused as a mistake on its line instead of exhausting the stack.
inline constexpr int kSimExpressionDepth = 200;

} // namespace nv::limits

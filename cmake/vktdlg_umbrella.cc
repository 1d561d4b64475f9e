// The shared library is the union of the area archives; this file only gives
// the target a source of its own.
namespace vkt { int vktdlg_umbrella_anchor = 0; }

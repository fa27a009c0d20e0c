#include "serial/com_settings.h"

#include "serial/com_port.h"

namespace serial {

// --- TComTimeouts ---

void TComTimeouts::Changed() {
  if (ComPort()) ComPort()->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t ms) { Set(read_interval_, ms); }
void TComTimeouts::SetReadTotalMultiplier(int32_t ms) { Set(read_total_multiplier_, ms); }
void TComTimeouts::SetReadTotalConstant(int32_t ms) { Set(read_total_constant_, ms); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t ms) { Set(write_total_multiplier_, ms); }
void TComTimeouts::SetWriteTotalConstant(int32_t ms) { Set(write_total_constant_, ms); }

void TComTimeouts::Assign(const TComTimeouts& s) {
  read_interval_ = s.read_interval_;
  read_total_multiplier_ = s.read_total_multiplier_;
  read_total_constant_ = s.read_total_constant_;
  write_total_multiplier_ = s.write_total_multiplier_;
  write_total_constant_ = s.write_total_constant_;
  Changed();
}

// --- TComFlowControl ---

void TComFlowControl::Changed() {
  if (ComPort()) ComPort()->ApplyLineSettings();
}

void TComFlowControl::SetOutCTSFlow(bool v) { Set(out_cts_flow_, v); }
void TComFlowControl::SetOutDSRFlow(bool v) { Set(out_dsr_flow_, v); }
void TComFlowControl::SetControlDTR(TDTRFlowControl v) { Set(control_dtr_, v); }
void TComFlowControl::SetControlRTS(TRTSFlowControl v) { Set(control_rts_, v); }
void TComFlowControl::SetXonXoffOut(bool v) { Set(xon_xoff_out_, v); }
void TComFlowControl::SetXonXoffIn(bool v) { Set(xon_xoff_in_, v); }
void TComFlowControl::SetDSRSensitivity(bool v) { Set(dsr_sensitivity_, v); }
void TComFlowControl::SetTxContinueOnXoff(bool v) { Set(tx_continue_on_xoff_, v); }
void TComFlowControl::SetXonChar(uint8_t v) { Set(xon_char_, v); }
void TComFlowControl::SetXoffChar(uint8_t v) { Set(xoff_char_, v); }

TFlowControl TComFlowControl::FlowControl() const {
  if (control_rts_ == rtsHandshake && out_cts_flow_ && !xon_xoff_in_ && !xon_xoff_out_) return fcHardware;
  if (control_rts_ == rtsDisable && !out_cts_flow_ && xon_xoff_in_ && xon_xoff_out_) return fcSoftware;
  if (control_rts_ == rtsDisable && !out_cts_flow_ && !xon_xoff_in_ && !xon_xoff_out_) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl v) {
  // The fields are written directly, so the one re-apply below is the only one.
  if (v != fcCustom) {
    control_rts_ = rtsDisable;
    out_cts_flow_ = false;
    xon_xoff_in_ = false;
    xon_xoff_out_ = false;
  }
  if (v == fcHardware) {
    control_rts_ = rtsHandshake;
    out_cts_flow_ = true;
  } else if (v == fcSoftware) {
    xon_xoff_in_ = true;
    xon_xoff_out_ = true;
  }
  Changed();
}

void TComFlowControl::Assign(const TComFlowControl& s) {
  out_cts_flow_ = s.out_cts_flow_;
  out_dsr_flow_ = s.out_dsr_flow_;
  control_dtr_ = s.control_dtr_;
  control_rts_ = s.control_rts_;
  xon_xoff_out_ = s.xon_xoff_out_;
  xon_xoff_in_ = s.xon_xoff_in_;
  dsr_sensitivity_ = s.dsr_sensitivity_;
  tx_continue_on_xoff_ = s.tx_continue_on_xoff_;
  xon_char_ = s.xon_char_;
  xoff_char_ = s.xoff_char_;
  Changed();
}

// --- TComParity ---

void TComParity::Changed() {
  if (ComPort()) ComPort()->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits v) { Set(bits_, v); }
void TComParity::SetCheck(bool v) { Set(check_, v); }
void TComParity::SetReplace(bool v) { Set(replace_, v); }
void TComParity::SetReplaceChar(uint8_t v) { Set(replace_char_, v); }

void TComParity::Assign(const TComParity& s) {
  bits_ = s.bits_;
  check_ = s.check_;
  replace_ = s.replace_;
  replace_char_ = s.replace_char_;
  Changed();
}

// --- TComBuffer ---

void TComBuffer::SetSize(int32_t& field, int32_t value) {
  if (field == value) return;
  field = value;
  if (field > 0 && field % 2 == 1) --field;
  Changed();
}

void TComBuffer::Changed() {
  if (ComPort()) ComPort()->ApplyQueueSizes();
}

void TComBuffer::SetInputSize(int32_t v) { SetSize(input_size_, v); }
void TComBuffer::SetOutputSize(int32_t v) { SetSize(output_size_, v); }

void TComBuffer::Assign(const TComBuffer& s) {
  input_size_ = s.input_size_;
  output_size_ = s.output_size_;
  Changed();
}

}  // namespace serial

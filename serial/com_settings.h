// The four settings objects of a serial port: time-outs, flow control, parity and queue sizes.
// Each keeps a back reference to the port that owns it; a setter that changes a value asks that
// port to re-apply its group of settings (the port decides whether that reaches the device).
// Assign copies every field of another object of the same class and re-applies once.
#pragma once

#include <cstdint>

#include "serial/com_types.h"

namespace serial {

class TCustomComPort;

// What the four have in common: the back reference and the compare-store-reapply setter.
class TComSettingsObject {
 public:
  TComSettingsObject() = default;
  TComSettingsObject(const TComSettingsObject&) = delete;
  TComSettingsObject& operator=(const TComSettingsObject&) = delete;
  virtual ~TComSettingsObject() = default;

  TCustomComPort* ComPort() const { return com_port_; }

 protected:
  template <class T>
  void Set(T& field, T value) {
    if (field == value) return;
    field = value;
    Changed();
  }
  // Asks the owning port (when there is one) to re-apply this object's group.
  virtual void Changed() = 0;

 private:
  friend class TCustomComPort;
  TCustomComPort* com_port_ = nullptr;
};

class TComTimeouts : public TComSettingsObject {
 public:
  void Assign(const TComTimeouts& source);

  int32_t ReadInterval() const { return read_interval_; }
  int32_t ReadTotalMultiplier() const { return read_total_multiplier_; }
  int32_t ReadTotalConstant() const { return read_total_constant_; }
  int32_t WriteTotalMultiplier() const { return write_total_multiplier_; }
  int32_t WriteTotalConstant() const { return write_total_constant_; }
  void SetReadInterval(int32_t ms);
  void SetReadTotalMultiplier(int32_t ms);
  void SetReadTotalConstant(int32_t ms);
  void SetWriteTotalMultiplier(int32_t ms);
  void SetWriteTotalConstant(int32_t ms);

 private:
  void Changed() override;

  int32_t read_interval_ = -1;
  int32_t read_total_multiplier_ = 0;
  int32_t read_total_constant_ = 0;
  int32_t write_total_multiplier_ = 100;
  int32_t write_total_constant_ = 1000;
};

class TComFlowControl : public TComSettingsObject {
 public:
  void Assign(const TComFlowControl& source);

  bool OutCTSFlow() const { return out_cts_flow_; }
  bool OutDSRFlow() const { return out_dsr_flow_; }
  TDTRFlowControl ControlDTR() const { return control_dtr_; }
  TRTSFlowControl ControlRTS() const { return control_rts_; }
  bool XonXoffOut() const { return xon_xoff_out_; }
  bool XonXoffIn() const { return xon_xoff_in_; }
  bool DSRSensitivity() const { return dsr_sensitivity_; }
  bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }
  uint8_t XonChar() const { return xon_char_; }
  uint8_t XoffChar() const { return xoff_char_; }
  void SetOutCTSFlow(bool v);
  void SetOutDSRFlow(bool v);
  void SetControlDTR(TDTRFlowControl v);
  void SetControlRTS(TRTSFlowControl v);
  void SetXonXoffOut(bool v);
  void SetXonXoffIn(bool v);
  void SetDSRSensitivity(bool v);
  void SetTxContinueOnXoff(bool v);
  void SetXonChar(uint8_t v);
  void SetXoffChar(uint8_t v);

  // Derived from ControlRTS, OutCTSFlow and the Xon/Xoff switches; fcCustom for any other mix.
  TFlowControl FlowControl() const;
  // Any value but fcCustom first clears those four fields, then sets what the value needs;
  // the port re-applies after every call, fcCustom included.
  void SetFlowControl(TFlowControl v);

 private:
  void Changed() override;

  bool out_cts_flow_ = false;
  bool out_dsr_flow_ = false;
  TDTRFlowControl control_dtr_ = dtrDisable;
  TRTSFlowControl control_rts_ = rtsDisable;
  bool xon_xoff_out_ = false;
  bool xon_xoff_in_ = false;
  bool dsr_sensitivity_ = false;
  bool tx_continue_on_xoff_ = false;
  uint8_t xon_char_ = 17;
  uint8_t xoff_char_ = 19;
};

class TComParity : public TComSettingsObject {
 public:
  void Assign(const TComParity& source);

  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  uint8_t ReplaceChar() const { return replace_char_; }
  void SetBits(TParityBits v);
  void SetCheck(bool v);
  void SetReplace(bool v);
  void SetReplaceChar(uint8_t v);

 private:
  void Changed() override;

  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  uint8_t replace_char_ = 0;
};

class TComBuffer : public TComSettingsObject {
 public:
  void Assign(const TComBuffer& source);

  int32_t InputSize() const { return input_size_; }
  int32_t OutputSize() const { return output_size_; }
  // A positive odd size is stored one lower (1025 becomes 1024).
  void SetInputSize(int32_t v);
  void SetOutputSize(int32_t v);

 private:
  void SetSize(int32_t& field, int32_t value);
  void Changed() override;

  int32_t input_size_ = 1024;
  int32_t output_size_ = 1024;
};

}  // namespace serial

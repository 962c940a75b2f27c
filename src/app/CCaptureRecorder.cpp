#include "app/CCaptureRecorder.h"

#include "Version.h"
#include "capture/CPcapngReader.h"
#include "capture/CaptureFeed.h"
#include "link/CCOMPort.h"

namespace orvex {

CCaptureRecorder::~CCaptureRecorder()
{
    Stop();
}

bool CCaptureRecorder::Start(const std::string& path, CCOMPort& port, const std::string& portName, std::string& error)
{
    Stop();
    if (!m_writer.Open(path, "orvex-vmc " ORVEX_VERSION)) {
        error = m_writer.Error();
        return false;
    }
    m_path = path;
    m_ports = { portName };
    m_sink = std::make_unique<CCaptureSink>(m_writer, m_ports);
    m_decoder = std::make_unique<CWireDecoder>(std::vector<CDecodedSink*> { m_sink.get() }, WireLogOptions {});
    m_assembler = std::make_unique<CExchangeAssembler>(*m_decoder);
    m_tap = std::make_unique<CPortTap>(*m_assembler, 0, BusRole::Controller);
    m_port = &port;
    port.SetTap(m_tap.get());
    std::lock_guard guard(m_busMutex);
    m_busSink = std::make_unique<CCaptureSink>(m_writer, m_busPorts);
    return true;
}

void CCaptureRecorder::SetBusPorts(std::vector<std::string> ports)
{
    std::lock_guard guard(m_busMutex);
    m_busPorts = std::move(ports);
}

void CCaptureRecorder::OnDecoded(const WireExchange& exchange, std::span<const std::string> lines)
{
    std::lock_guard guard(m_busMutex);
    if (m_busSink)
        m_busSink->OnDecoded(exchange, lines);
}

void CCaptureRecorder::OnEvent(const WireEvent& event)
{
    std::lock_guard guard(m_busMutex);
    if (m_busSink)
        m_busSink->OnEvent(event);
}

std::string CCaptureRecorder::Stop()
{
    if (!m_port)
        return {};
    m_port->SetTap(nullptr);
    m_port = nullptr;
    // The watching thread may be writing a watched exchange meanwhile.
    std::lock_guard guard(m_busMutex);
    m_tap->Finish();
    m_busSink.reset();
    m_writer.Close();
    std::string error = m_writer.Error();
    m_tap.reset();
    m_assembler.reset();
    m_decoder.reset();
    m_sink.reset();
    return error;
}

bool DecodeCaptureFile(const std::string& path, CLogSink& sink, std::string& error)
{
    CCaptureFile file;
    if (!file.Open(path)) {
        error = file.Error();
        return false;
    }
    std::vector<std::string> ports;
    CLogLinesSink lines(sink, ports);
    CWireDecoder decoder({ &lines }, WireLogOptions {});
    CExchangeAssembler assembler(decoder);
    if (FeedCapture(file.Bytes(), assembler, ports, error))
        return true;
    error = path + ": " + error;
    return false;
}

} // namespace orvex

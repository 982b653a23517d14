#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "sim/usb/bus.h"
#include "tests/support/verified_test.h"

namespace {

using sim::testing::VerifierCapture;
constexpr uint8_t kCommandOut = 0x01;
constexpr uint8_t kDataIn = 0x82;
constexpr uint8_t kAnswerIn = 0x83;
constexpr ULONG kTag = sim::pool::Tag("Tusb");

// One interface, a bulk OUT and a bulk IN endpoint; IN data is what the test sends.
class FakeDevice : public sim::usb::DeviceModel {
public:
    std::vector<uint8_t> DeviceDescriptor() const override {
        std::vector<uint8_t> d(18, 0);
        d[0] = 18;
        d[1] = USB_DEVICE_DESCRIPTOR_TYPE;
        d[17] = 1;
        return d;
    }
    std::vector<uint8_t> ConfigurationDescriptor(uint8_t index) const override {
        if (index != 0) {
            return {};
        }
        return {9, 2, 39,          0, 1,  1,    0, 0x80, 50, // configuration, 39 bytes
                9, 4, 0,           0, 3,  0xFF, 0, 0,    0,  // interface 0, three endpoints
                7, 5, kCommandOut, 2, 64, 0,    0,           // bulk OUT
                7, 5, kDataIn,     2, 0,  2,    0,           // bulk IN, 512-byte packets
                7, 5, kAnswerIn,   2, 64, 0,    0};          // bulk IN, 64-byte packets
    }
    bool Out(uint8_t, const uint8_t* data, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), data, data + length);
        return true;
    }
    InResult In(uint8_t endpoint, uint8_t* data, size_t length) override {
        std::unique_lock<std::mutex> lock(mutex_);
        InResult result;
        if (endpoint == kAnswerIn) {
            if (answers_ > 0 && length > 0) {
                --answers_;
                data[0] = 0xA5;
                result.bytes = 1;
                result.shortPacket = true;
            }
            return result;
        }
        if (hold_ == Hold::Armed) {
            hold_ = Hold::Inside;
            changed_.notify_all();
            changed_.wait(lock, [this] { return hold_ == Hold::Released; });
            hold_ = Hold::None;
        }
        while (result.bytes < length && !pending_.empty()) {
            data[result.bytes++] = pending_.front();
            pending_.pop_front();
        }
        if (pending_.empty() && shortAtEnd_ && result.bytes > 0) {
            result.shortPacket = true;
        }
        return result;
    }
    void SetDataReadyCallback(std::function<void()> callback) override {
        std::lock_guard<std::mutex> lock(mutex_);
        callback_ = std::move(callback);
    }
    void ResetEndpoint(uint8_t) override { ++resets_; }

    // Queues IN data; `shortPacket` ends it with a short packet.
    void Send(size_t bytes, uint8_t first, bool shortPacket = false) {
        std::function<void()> callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (size_t i = 0; i < bytes; ++i) {
                pending_.push_back(static_cast<uint8_t>(first + i));
            }
            shortAtEnd_ = shortPacket;
            callback = callback_;
        }
        callback();
    }
    // One-byte answers on the second IN endpoint, each ended by a short packet.
    void Answer(int count) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_ += count;
    }
    // The bus thread's next look at the data endpoint stops inside the device until Release,
    // with the bus's own lock dropped as it is for every copy.
    void HoldNextDataIn() {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = Hold::Armed;
    }
    void WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return hold_ == Hold::Inside; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = Hold::Released;
        changed_.notify_all();
    }
    // Data may be ready: the bus looks at its endpoints again.
    void Poke() {
        std::function<void()> callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callback = callback_;
        }
        callback();
    }
    std::vector<uint8_t> Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    int resets_ = 0;

private:
    enum class Hold { None, Armed, Inside, Released };
    std::mutex mutex_;
    std::condition_variable changed_;
    Hold hold_ = Hold::None;
    int answers_ = 0;
    std::deque<uint8_t> pending_;
    std::vector<uint8_t> received_;
    bool shortAtEnd_ = false;
    std::function<void()> callback_;
};

// The driver's side: synchronous URBs as the transport sends them, and asynchronous reads.
class BusTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        bus_ = std::make_unique<sim::usb::Bus>(device_);
    }
    void TearDown() override {
        bus_.reset();
        VerifiedTest::TearDown();
    }

    NTSTATUS Ioctl(ULONG code, PVOID argument) {
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        IO_STATUS_BLOCK iosb;
        PIRP irp = IoBuildDeviceIoControlRequest(code, bus_->DeviceObject(), nullptr, 0, nullptr, 0,
                                                 TRUE, &event, &iosb);
        IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument;
        NTSTATUS status = IoCallDriver(bus_->DeviceObject(), irp);
        if (status == STATUS_PENDING) {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
            status = iosb.Status;
        }
        return status;
    }
    NTSTATUS Submit(PURB urb) { return Ioctl(IOCTL_INTERNAL_USB_SUBMIT_URB, urb); }

    void Configure() {
        USB_CONFIGURATION_DESCRIPTOR header;
        URB urb{};
        UsbBuildGetDescriptorRequest(&urb, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST),
                                     USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, &header, nullptr,
                                     sizeof header, nullptr);
        ASSERT_EQ(Submit(&urb), STATUS_SUCCESS);
        config_.resize(header.wTotalLength);
        UsbBuildGetDescriptorRequest(&urb, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST),
                                     USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, config_.data(),
                                     nullptr, header.wTotalLength, nullptr);
        ASSERT_EQ(Submit(&urb), STATUS_SUCCESS);
        auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(config_.data());
        USBD_INTERFACE_LIST_ENTRY list[2] = {};
        list[0].InterfaceDescriptor =
            USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1);
        ASSERT_NE(list[0].InterfaceDescriptor, nullptr);
        PURB select = USBD_CreateConfigurationRequestEx(config, list);
        ASSERT_NE(select, nullptr);
        for (ULONG i = 0; i < list[0].Interface->NumberOfPipes; ++i) {
            list[0].Interface->Pipes[i].MaximumTransferSize = 0xFFFFFFFF;
        }
        ASSERT_EQ(Submit(select), STATUS_SUCCESS);
        std::memcpy(&pipes_, list[0].Interface->Pipes, sizeof pipes_);
        ExFreePool(select);
    }

    struct Read {
        KEVENT done;
        PIRP irp;
        PMDL mdl;
        URB urb;
        KIRQL irql = PASSIVE_LEVEL;
        uint8_t* buffer;
    };
    static NTSTATUS ReadDone(PDEVICE_OBJECT, PIRP, PVOID context) {
        auto* read = static_cast<Read*>(context);
        read->irql = KeGetCurrentIrql();
        KeSetEvent(&read->done, IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    // Starts an IN read on the data pipe into pool memory described by an MDL.
    std::unique_ptr<Read> StartRead(ULONG length, ULONG flags = USBD_SHORT_TRANSFER_OK,
                                    ULONG pipe = 1) {
        auto read = std::make_unique<Read>();
        KeInitializeEvent(&read->done, NotificationEvent, FALSE);
        read->buffer = static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, length, kTag));
        read->mdl = IoAllocateMdl(read->buffer, length, FALSE, FALSE, nullptr);
        MmBuildMdlForNonPagedPool(read->mdl);
        read->irp = IoAllocateIrp(bus_->DeviceObject()->StackSize + 1, FALSE);
        read->urb = URB{};
        UsbBuildInterruptOrBulkTransferRequest(&read->urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER),
                                               pipes_[pipe].PipeHandle, nullptr, read->mdl, length,
                                               USBD_TRANSFER_DIRECTION_IN | flags, nullptr);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(read->irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = &read->urb;
        IoSetCompletionRoutine(read->irp, &ReadDone, read.get(), TRUE, TRUE, TRUE);
        lastSubmit_ = IoCallDriver(bus_->DeviceObject(), read->irp);
        return read;
    }
    static NTSTATUS Wait(Read& read) {
        KeWaitForSingleObject(&read.done, Executive, KernelMode, FALSE, nullptr);
        return read.irp->IoStatus.Status;
    }
    static void Free(std::unique_ptr<Read> read) {
        IoFreeIrp(read->irp);
        IoFreeMdl(read->mdl);
        ExFreePoolWithTag(read->buffer, kTag);
    }

    NTSTATUS PipeRequest(USHORT function, USBD_PIPE_HANDLE pipe) {
        URB urb{};
        urb.UrbHeader.Length = sizeof(_URB_PIPE_REQUEST);
        urb.UrbHeader.Function = function;
        urb.UrbPipeRequest.PipeHandle = pipe;
        return Submit(&urb);
    }

    NTSTATUS WriteCommand(USBD_STATUS* usbd = nullptr) {
        uint8_t packet[64] = {0x02};
        URB urb{};
        UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER),
                                               pipes_[0].PipeHandle, packet, nullptr, 64,
                                               USBD_SHORT_TRANSFER_OK, nullptr);
        const NTSTATUS status = Submit(&urb);
        if (usbd != nullptr) {
            *usbd = urb.UrbHeader.Status;
        }
        return status;
    }

    FakeDevice device_;
    std::unique_ptr<sim::usb::Bus> bus_;
    std::vector<uint8_t> config_;
    USBD_PIPE_INFORMATION pipes_[3] = {};
    NTSTATUS lastSubmit_ = STATUS_SUCCESS;
};

TEST_F(BusTest, SelectConfigurationFillsPipesAndANullConfigurationUnconfigures) {
    bus_->SetMaximumTransferSize(0x100000);
    Configure();
    EXPECT_TRUE(bus_->Configured());
    EXPECT_EQ(pipes_[0].EndpointAddress, kCommandOut);
    EXPECT_EQ(pipes_[1].EndpointAddress, kDataIn);
    EXPECT_EQ(pipes_[1].PipeType, UsbdPipeTypeBulk);
    EXPECT_EQ(pipes_[1].MaximumPacketSize, 512);
    EXPECT_NE(pipes_[0].PipeHandle, nullptr);
    EXPECT_EQ(pipes_[1].MaximumTransferSize, 0x100000u);

    URB unconfigure{};
    UsbBuildSelectConfigurationRequest(&unconfigure, sizeof(_URB_SELECT_CONFIGURATION), nullptr);
    EXPECT_EQ(Submit(&unconfigure), STATUS_SUCCESS);
    EXPECT_FALSE(bus_->Configured());
    USBD_STATUS usbd;
    EXPECT_EQ(WriteCommand(&usbd), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(usbd, USBD_STATUS_INVALID_PIPE_HANDLE);
}

TEST_F(BusTest, OutIsTakenAtOnceAndInCompletesOnTheBusThreadAtDispatchLevel) {
    Configure();
    EXPECT_EQ(WriteCommand(), STATUS_SUCCESS);
    EXPECT_EQ(device_.Received().size(), 64u);

    auto read = StartRead(1000);
    EXPECT_EQ(lastSubmit_, STATUS_PENDING);
    ASSERT_TRUE(bus_->WaitForPendingTransfers(kDataIn, 1, std::chrono::seconds(5)));
    device_.Send(600, 0);
    device_.Send(400, 88);
    EXPECT_EQ(Wait(*read), STATUS_SUCCESS);
    EXPECT_EQ(read->irql, DISPATCH_LEVEL);
    EXPECT_EQ(read->urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 1000u);
    EXPECT_EQ(read->buffer[599], static_cast<uint8_t>(599));
    EXPECT_EQ(read->buffer[600], 88);
    Free(std::move(read));

    // A short packet ends a transfer early and reports the short count.
    read = StartRead(1000);
    device_.Send(300, 1, /*shortPacket=*/true);
    EXPECT_EQ(Wait(*read), STATUS_SUCCESS);
    EXPECT_EQ(read->urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 300u);
    Free(std::move(read));

    // Without USBD_SHORT_TRANSFER_OK the short transfer is an error.
    read = StartRead(1000, 0);
    device_.Send(10, 1, true);
    EXPECT_EQ(Wait(*read), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_ERROR_SHORT_TRANSFER);
    Free(std::move(read));
}

TEST_F(BusTest, InjectedShortAndLostDataAndRequestsServedInOrder) {
    Configure();
    bus_->ShortenNextTransfer(kDataIn, 100);
    bus_->DropData(kDataIn, 50);
    auto first = StartRead(200);
    auto second = StartRead(200);
    ASSERT_TRUE(bus_->WaitForPendingTransfers(kDataIn, 2, std::chrono::seconds(5)));
    device_.Send(50, 200); // lost
    device_.Send(300, 0);
    EXPECT_EQ(Wait(*first), STATUS_SUCCESS);
    EXPECT_EQ(first->urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 100u);
    EXPECT_EQ(first->buffer[0], 0);
    EXPECT_EQ(Wait(*second), STATUS_SUCCESS);
    EXPECT_EQ(second->urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 200u);
    EXPECT_EQ(second->buffer[0], 100) << "the data after the short packet goes to the next one";
    Free(std::move(first));
    Free(std::move(second));
}

// A host controller serves each endpoint on its own: a read that waits for data on one
// endpoint never holds up another, also one queued while the bus was busy with the first.
TEST_F(BusTest, AReadQueuedWhileAnotherEndpointWaitsIsServed) {
    Configure();
    device_.Answer(1);
    auto data = StartRead(4096);
    ASSERT_TRUE(bus_->WaitForPendingTransfers(kDataIn, 1, std::chrono::seconds(5)));
    device_.HoldNextDataIn();
    device_.Poke();
    device_.WaitUntilHeld();
    auto answer = StartRead(64, USBD_SHORT_TRANSFER_OK, 2);
    device_.Release();

    // A bound for a failure only: the answer is there and completes at once.
    LARGE_INTEGER bound;
    bound.QuadPart = -10LL * 1000 * 1000 * 10;
    ASSERT_EQ(KeWaitForSingleObject(&answer->done, Executive, KernelMode, FALSE, &bound),
              STATUS_SUCCESS)
        << "the answer waited behind the data endpoint";
    EXPECT_EQ(answer->irp->IoStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(answer->buffer[0], 0xA5);
    EXPECT_EQ(bus_->PendingTransfers(kDataIn), 1u);

    EXPECT_TRUE(IoCancelIrp(data->irp));
    EXPECT_EQ(Wait(*data), STATUS_CANCELLED);
    Free(std::move(answer));
    Free(std::move(data));
}

TEST_F(BusTest, CancelAndAbortCompletePendingReadsWithCancelled) {
    Configure();
    auto read = StartRead(4096);
    ASSERT_TRUE(bus_->WaitForPendingTransfers(kDataIn, 1, std::chrono::seconds(5)));
    EXPECT_TRUE(IoCancelIrp(read->irp));
    EXPECT_EQ(Wait(*read), STATUS_CANCELLED);
    EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_CANCELED);
    Free(std::move(read));

    auto a = StartRead(4096);
    auto b = StartRead(4096);
    EXPECT_EQ(PipeRequest(URB_FUNCTION_ABORT_PIPE, pipes_[1].PipeHandle), STATUS_SUCCESS);
    EXPECT_EQ(Wait(*a), STATUS_CANCELLED);
    EXPECT_EQ(Wait(*b), STATUS_CANCELLED);
    EXPECT_EQ(bus_->PendingTransfers(kDataIn), 0u);
    Free(std::move(a));
    Free(std::move(b));
}

TEST_F(BusTest, StalledPipeFailsSubmissionsUntilReset) {
    Configure();
    bus_->StallEndpoint(kDataIn);
    auto read = StartRead(64);
    EXPECT_EQ(lastSubmit_, STATUS_UNSUCCESSFUL) << "fails in IoCallDriver itself";
    EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_ENDPOINT_HALTED);
    Free(std::move(read));
    EXPECT_EQ(PipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, pipes_[1].PipeHandle),
              STATUS_SUCCESS);
    EXPECT_EQ(device_.resets_, 1);
    read = StartRead(64);
    EXPECT_EQ(lastSubmit_, STATUS_PENDING);
    device_.Send(64, 0);
    EXPECT_EQ(Wait(*read), STATUS_SUCCESS);
    Free(std::move(read));
}

TEST_F(BusTest, DisabledPortIsReportedAndFixedByAPortReset) {
    Configure();
    bus_->DisablePort();
    ULONG port = 0;
    EXPECT_EQ(Ioctl(IOCTL_INTERNAL_USB_GET_PORT_STATUS, &port), STATUS_SUCCESS);
    EXPECT_EQ(port, static_cast<ULONG>(USBD_PORT_CONNECTED));
    EXPECT_EQ(WriteCommand(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(PipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, pipes_[1].PipeHandle),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Ioctl(IOCTL_INTERNAL_USB_RESET_PORT, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(Ioctl(IOCTL_INTERNAL_USB_GET_PORT_STATUS, &port), STATUS_SUCCESS);
    EXPECT_EQ(port, static_cast<ULONG>(USBD_PORT_CONNECTED | USBD_PORT_ENABLED));
    EXPECT_EQ(WriteCommand(), STATUS_SUCCESS);
}

TEST_F(BusTest, UnpluggedDeviceFailsPendingAndNewRequests) {
    Configure();
    auto read = StartRead(4096);
    ASSERT_TRUE(bus_->WaitForPendingTransfers(kDataIn, 1, std::chrono::seconds(5)));
    bus_->Unplug();
    EXPECT_EQ(Wait(*read), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_DEVICE_GONE);
    Free(std::move(read));
    USBD_STATUS usbd;
    EXPECT_EQ(WriteCommand(&usbd), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(usbd, USBD_STATUS_DEVICE_GONE);
    ULONG port = 0;
    EXPECT_EQ(Ioctl(IOCTL_INTERNAL_USB_GET_PORT_STATUS, &port), STATUS_DEVICE_NOT_CONNECTED);
}

TEST_F(BusTest, SynchronousRequestsAboveTheirIrqlAreReported) {
    Configure();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    VerifierCapture capture;
    IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, bus_->DeviceObject(), nullptr, 0,
                                  nullptr, 0, TRUE, nullptr, nullptr);
    EXPECT_TRUE(capture.Saw("IoBuildDeviceIoControlRequest called at DISPATCH_LEVEL"));
    KeLowerIrql(old);
}

} // namespace

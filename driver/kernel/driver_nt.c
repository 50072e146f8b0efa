/* The kernel side of the driver: device and link, the IRP dispatch, and the kernel
 * services that driver_core.c reaches through KvKernelOps. Built with mingw-w64 for
 * the target's width into NtDriver.sys (see CMake's driver rule). */
#include <ntifs.h>
#include <tdikrnl.h>

#include "driver/kernel/driver_core.h"

#define KV_POOL_TAG 0x206B6444u /* "Ddk " */
#define KV_SYSTEM_HANDLE_INFORMATION 16

NTSYSAPI NTSTATUS NTAPI ZwQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG size, PULONG returned);

static const WCHAR kDeviceName[] = L"\\Device\\KorvaneDriverNTDevice0";
static const WCHAR kLinkName[] = L"\\DosDevices\\KorvaneDriverNTDevice0";
static const WCHAR* const kTransportNames[KV_TRANSPORT_COUNT] = {L"\\Device\\Tcp", L"\\Device\\Udp",
                                                                  L"\\Device\\Ip"};

static ULONG g_breakOnEntry;

static void KernelTrace(void* context, const char* text) {
    (void)context;
    DbgPrint("%s\n", text);
}

static void* KernelAllocate(void* context, size_t size) {
    (void)context;
    return ExAllocatePoolWithTag(NonPagedPool, size, KV_POOL_TAG);
}

static void KernelRelease(void* context, void* block) {
    (void)context;
    ExFreePoolWithTag(block, KV_POOL_TAG);
}

static int32_t KernelQueryHandles(void* context, void* buffer, uint32_t size, uint32_t* returned) {
    ULONG got = 0;
    NTSTATUS status;
    (void)context;
    status = ZwQuerySystemInformation(KV_SYSTEM_HANDLE_INFORMATION, buffer, size, &got);
    *returned = got;
    return status;
}

static int32_t KernelOpenTransport(void* context, int which, void** device, void** reference) {
    UNICODE_STRING name;
    PFILE_OBJECT file = NULL;
    PDEVICE_OBJECT object = NULL;
    NTSTATUS status;
    (void)context;
    RtlInitUnicodeString(&name, kTransportNames[which]);
    status = IoGetDeviceObjectPointer(&name, 0x1F01FF, &file, &object);
    /* The named device, which the file objects of the snapshot carry: the pointer the
     * call answers is the top of the device's stack, a filter's device where one is
     * attached. Without a file object (Wine) only that pointer is known. */
    if (NT_SUCCESS(status) && file && file->DeviceObject) object = file->DeviceObject;
    *device = NT_SUCCESS(status) ? object : NULL;
    *reference = NT_SUCCESS(status) ? file : NULL;
    return status;
}

static void KernelCloseTransport(void* context, void* reference) {
    (void)context;
    ObDereferenceObject(reference);
}

static int KernelReferenceFileObject(void* context, void* object) {
    (void)context;
    return NT_SUCCESS(ObReferenceObjectByPointer(object, 0, *IoFileObjectType, KernelMode));
}

static void KernelDereference(void* context, void* object) {
    (void)context;
    ObDereferenceObject(object);
}

static void KernelDescribeFileObject(void* context, void* fileObject, KvFileObjectFacts* facts) {
    PFILE_OBJECT file = (PFILE_OBJECT)fileObject;
    (void)context;
    facts->device = file->DeviceObject;
    facts->deviceType = file->DeviceObject ? file->DeviceObject->DeviceType : 0;
    facts->fsContext = file->FsContext;
    facts->fsContext2 = (uintptr_t)file->FsContext2;
}

/* The answer of one address query, filled by the completion routine. */
typedef struct QueryCompletion {
    KEVENT done;
    NTSTATUS status;
    ULONG_PTR information;
} QueryCompletion;

static NTSTATUS NTAPI QueryCompleted(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    QueryCompletion* completion = (QueryCompletion*)context;
    (void)device;
    completion->status = irp->IoStatus.Status;
    completion->information = irp->IoStatus.Information;
    IoFreeIrp(irp);
    KeSetEvent(&completion->done, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

static int32_t KernelQueryAddress(void* context, void* deviceObject, void* fileObject, void* buffer, uint32_t size,
                                  uint32_t* returned) {
    PDEVICE_OBJECT device = (PDEVICE_OBJECT)deviceObject;
    QueryCompletion completion;
    PIRP irp;
    PMDL mdl;
    (void)context;
    *returned = 0;
    irp = IoAllocateIrp(device->StackSize, FALSE);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    mdl = IoAllocateMdl(buffer, size, FALSE, FALSE, NULL);
    if (!mdl) {
        IoFreeIrp(irp);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    MmBuildMdlForNonPagedPool(mdl);
    KeInitializeEvent(&completion.done, NotificationEvent, FALSE);
    completion.status = STATUS_UNSUCCESSFUL;
    completion.information = 0;
    TdiBuildQueryInformation(irp, device, (PFILE_OBJECT)fileObject, QueryCompleted, &completion,
                             TDI_QUERY_ADDRESS_INFO, mdl);
    /* The completion routine runs whether the call pends or not, and signals. */
    IoCallDriver(device, irp);
    KeWaitForSingleObject(&completion.done, Executive, KernelMode, FALSE, NULL);
    IoFreeMdl(mdl);
    if (NT_SUCCESS(completion.status)) *returned = completion.information < size ? (uint32_t)completion.information : size;
    return completion.status;
}

static const KvKernelOps g_kernelOps = {
    NULL,
    KernelAllocate,
    KernelRelease,
    KernelQueryHandles,
    KernelOpenTransport,
    KernelCloseTransport,
    KernelReferenceFileObject,
    KernelDereference,
    KernelDescribeFileObject,
    KernelQueryAddress,
    KernelTrace,
};

static void DumpRequest(PIRP irp, PIO_STACK_LOCATION stack) {
    DbgPrint("IRP: Major=0x%x", stack->MajorFunction);
    DbgPrint(" Minor=0x%x Flags=0x%x\n", stack->MinorFunction, irp->Flags);
    if (stack->MajorFunction == IRP_MJ_READ || stack->MajorFunction == IRP_MJ_WRITE) {
        DbgPrint(" Length=0x%x\n", stack->Parameters.Read.Length);
    } else if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        DbgPrint(" Code=0x%x InputSize=0x%x OutputSize=0x%x\n", stack->Parameters.DeviceIoControl.IoControlCode,
                 stack->Parameters.DeviceIoControl.InputBufferLength,
                 stack->Parameters.DeviceIoControl.OutputBufferLength);
    }
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Every open handle gets its own collection state, kept in its file object. */
static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    KvClientState* state;
    (void)device;
    DumpRequest(irp, stack);
    state = (KvClientState*)KernelAllocate(NULL, sizeof *state);
    if (!state) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    KvInitClientState(state);
    if (stack->FileObject) stack->FileObject->FsContext = state;
    else KernelRelease(NULL, state);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    (void)device;
    DumpRequest(irp, stack);
    if (stack->FileObject && stack->FileObject->FsContext) {
        KvClientState* state = (KvClientState*)stack->FileObject->FsContext;
        stack->FileObject->FsContext = NULL;
        KvReleaseClientState(&g_kernelOps, state);
        KernelRelease(NULL, state);
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    DumpRequest(irp, IoGetCurrentIrpStackLocation(irp));
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    KvClientState* state = stack->FileObject ? (KvClientState*)stack->FileObject->FsContext : NULL;
    uint32_t information = 0;
    NTSTATUS status;
    (void)device;
    DumpRequest(irp, stack);
    status = KvDispatchControl(&g_kernelOps, state, stack->Parameters.DeviceIoControl.IoControlCode,
                               irp->AssociatedIrp.SystemBuffer, stack->Parameters.DeviceIoControl.InputBufferLength,
                               stack->Parameters.DeviceIoControl.OutputBufferLength, &information);
    return Complete(irp, status, information);
}

static VOID NTAPI DriverUnload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    DbgPrint("Unload called\n");
    RtlInitUnicodeString(&link, kLinkName);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

/* The DWORD "BreakOnEntry" under the service key's "Parameters"; 0 when absent. */
static ULONG ReadBreakOnEntry(PUNICODE_STRING registryPath) {
    static const WCHAR kSubkey[] = L"\\Parameters";
    UNICODE_STRING path, valueName;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    ULONG result = 0, got = 0;
    UCHAR answer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)answer;
    const USHORT bytes = (USHORT)(registryPath->Length + sizeof kSubkey);
    if (registryPath->Length > 0xFFFF - sizeof kSubkey) return 0;
    path.Buffer = (PWCH)KernelAllocate(NULL, bytes);
    if (!path.Buffer) return 0;
    path.Length = 0;
    path.MaximumLength = bytes;
    RtlCopyUnicodeString(&path, registryPath);
    RtlAppendUnicodeToString(&path, kSubkey);
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        RtlInitUnicodeString(&valueName, L"BreakOnEntry");
        if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, answer, sizeof answer, &got)) &&
            value->Type == REG_DWORD && value->DataLength == sizeof(ULONG)) {
            RtlCopyMemory(&result, value->Data, sizeof result);
        }
        ZwClose(key);
    }
    KernelRelease(NULL, path.Buffer);
    return result;
}

/* Lets only Local System and the administrators open the device. */
static NTSTATUS SecureDevice(PDEVICE_OBJECT device) {
    ULONG_PTR aligned[(KV_DEVICE_SECURITY_SIZE + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR)];
    HANDLE handle;
    NTSTATUS status;
    if (KvBuildDeviceSecurity((uint8_t*)aligned, sizeof aligned) == 0) return STATUS_UNSUCCESSFUL;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (!NT_SUCCESS(status)) return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, (PSECURITY_DESCRIPTOR)aligned);
    ZwClose(handle);
    return status;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING name, link;
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status;

    RtlInitUnicodeString(&name, kDeviceName);
    status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Error creating device KorvaneDriverNTDevice, status 0x%x\n", status);
        return status;
    }
    if (!device) {
        DbgPrint("Error constructing device KorvaneDriverNTDevice\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = SecureDevice(device);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Error securing device KorvaneDriverNTDevice, status 0x%x\n", status);
        IoDeleteDevice(device);
        return status;
    }
    RtlInitUnicodeString(&link, kLinkName);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Error creating device KorvaneDriverNTDevice, status 0x%x\n", status);
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = DriverUnload;

    g_breakOnEntry = ReadBreakOnEntry(registryPath);
    DbgPrint("m_bBreakOnEntry = %lu\n", g_breakOnEntry);
    DbgPrint("In DriverEntry new version\n");
    return STATUS_SUCCESS;
}

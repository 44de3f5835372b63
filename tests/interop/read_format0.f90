! Reads a binary field file (format 0) the way the beam-dynamics code does: the
! file is opened as a sequential unformatted file and read with the nine READ
! statements of its record layout, then one more READ must hit the end of file.
! Everything read is copied unchanged to a stream dump, so that the end-to-end
! tests can compare it with what the converter wrote.
!
! usage: interop_read_format0 FIELD_FILE DUMP_FILE
! exit status: 0 all read; 2 bad usage or the dump cannot be written;
!              3 a READ failed (the statement is named on standard error);
!              4 data follows the end mark.
program read_format0
  use, intrinsic :: iso_fortran_env, only: error_unit, iostat_end
  implicit none
  integer, parameter :: dp = kind(1.0d0)
  integer, parameter :: nx = 25, ny = 25, nz = 201
  real(dp) :: d_elm, aper
  integer :: k_s_EH, ksym_x, ksym_y, ksym_z, kend_mark
  real(dp) :: x_grid(nx), y_grid(ny), z_grid(nz)
  real(dp), allocatable :: f1(:,:,:), f2(:,:,:), f3(:,:,:)
  character(len=4096) :: field_file, dump_file
  character(len=256) :: msg
  integer :: ios

  if (command_argument_count() /= 2) then
    write(error_unit, '(a)') 'usage: interop_read_format0 FIELD_FILE DUMP_FILE'
    error stop 2
  end if
  call get_command_argument(1, field_file)
  call get_command_argument(2, dump_file)
  allocate(f1(nx, ny, nz), f2(nx, ny, nz), f3(nx, ny, nz))

  msg = ''
  open(7, file=trim(field_file), status='old', form='unformatted', access='sequential', &
       action='read', iostat=ios, iomsg=msg)
  call check(ios, 0)
  read(7, iostat=ios, iomsg=msg) d_elm, aper, k_s_EH
  call check(ios, 1)
  read(7, iostat=ios, iomsg=msg) ksym_x, ksym_y, ksym_z
  call check(ios, 2)
  read(7, iostat=ios, iomsg=msg) x_grid
  call check(ios, 3)
  read(7, iostat=ios, iomsg=msg) y_grid
  call check(ios, 4)
  read(7, iostat=ios, iomsg=msg) z_grid
  call check(ios, 5)
  read(7, iostat=ios, iomsg=msg) f1
  call check(ios, 6)
  read(7, iostat=ios, iomsg=msg) f2
  call check(ios, 7)
  read(7, iostat=ios, iomsg=msg) f3
  call check(ios, 8)
  read(7, iostat=ios, iomsg=msg) kend_mark
  call check(ios, 9)
  read(7, iostat=ios, iomsg=msg)
  if (ios /= iostat_end) then
    write(error_unit, '(a,i0)') 'end-of-file check failed: a further READ gave iostat ', ios
    call release()
    error stop 4
  end if
  close(7)

  open(8, file=trim(dump_file), status='replace', form='unformatted', access='stream', &
       action='write', iostat=ios, iomsg=msg)
  if (ios /= 0) then
    write(error_unit, '(a)') 'cannot write the dump: ' // trim(msg)
    call release()
    error stop 2
  end if
  write(8) d_elm, aper, k_s_EH, ksym_x, ksym_y, ksym_z
  write(8) x_grid, y_grid, z_grid
  write(8) f1, f2, f3
  write(8) kend_mark
  close(8)
  call release()

contains

  subroutine check(status, statement)
    integer, intent(in) :: status, statement
    if (status == 0) return
    if (statement == 0) then
      write(error_unit, '(a,i0,a)') 'OPEN failed, iostat ', status, ': ' // trim(msg)
    else
      write(error_unit, '(a,i0,a,i0,a)') 'READ statement ', statement, ' failed, iostat ', &
        status, ': ' // trim(msg)
    end if
    call release()
    error stop 3
  end subroutine check

  subroutine release()
    if (allocated(f1)) deallocate(f1, f2, f3)
  end subroutine release

end program read_format0
